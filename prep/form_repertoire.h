#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QPushButton;

namespace platform {
class DirList;
class DriveList;
class FileList;
} // namespace platform

namespace kestrine {

// The modeless chooser of "Synchonisation des fichiers de commande": the user
// picks a directory, and "Validez votre choix" rewrites filebat.dat from the
// batch files listed there.
class form_repertoire : public QWidget
{
    Q_OBJECT

public:
    form_repertoire(const QString &rep_appli, QWidget *parent = nullptr);

    // Runs each time the chooser is opened anew.
    void Form_Load();
    // The chosen directory with its final separator, empty until one is chosen.
    QString chemin_choisi() const { return m_chemin_choisi; }

Q_SIGNALS:
    // filebat.dat was rewritten with these names, in the order of File1.
    void commandesChoisies(const QStringList &noms);

private:
    void Drive1_change(const QString &root);
    void Dir1_change(const QString &path);
    void Command1_click();

    QString m_rep_appli;
    QString m_chemin_choisi;

    QLabel *Label1;
    platform::DriveList *Drive1;
    platform::DirList *Dir1;
    QLabel *Label3;
    QLabel *Label2;
    QPushButton *Command1;
    platform::FileList *File1;
};

} // namespace kestrine
