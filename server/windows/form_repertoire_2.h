#pragma once

#include "server/frame/server_state.h"

#include <QString>
#include <QWidget>

class QCheckBox;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class DirList;
class DriveList;
class FileList;
} // namespace platform

// "Choix du répertoire ": the operator picks the folder that receives the
// preparation tool, its key file and the list of commands. It closes once the
// folder is provisioned, and stays open after a failure so that the operator
// can correct the cause and validate again.
class form_repertoire_2 : public QWidget
{
    Q_OBJECT

public:
    // executable: the preparation tool's file name in rep_appli.
    form_repertoire_2(ServerState &state, const QString &executable, QWidget *parent = nullptr);

    // Opens Dir1 on the server's folder; run when the window is opened.
    void Form_Load();

    QString chemin_choisi() const { return m_chemin_choisi; }
    QString chemin_cible() const { return m_chemin_cible; }

    QLabel *Label1;
    platform::DriveList *Drive1;
    platform::DirList *Dir1;
    QCheckBox *Check1;
    QLabel *Label3;
    QLineEdit *Text1;
    QLabel *Label2;
    QPushButton *Command1;
    platform::FileList *File1; // lies outside the window, never seen

Q_SIGNALS:
    // The window is closing, provisioned or by its close box.
    void fermee();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Dir1_change(const QString &path);
    void Check1_click();
    void calcule_cible();
    void montre_cible();
    void Command1_click();

    ServerState &m_state;
    QString m_executable;
    QString m_chemin_choisi;
    QString m_chemin_cible;
    bool m_cible_valide = true; // false while the typed name cannot be a folder
};
