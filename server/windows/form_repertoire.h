#pragma once

#include "server/frame/server_state.h"

#include <QString>
#include <QWidget>

class QCloseEvent;
class QLabel;
class QPushButton;

namespace platform {
class DirList;
class DriveList;
} // namespace platform

// "Choix du répertoire commandes": the operator picks the actions directory.
// Validating applies it at once, saves it to pop3.ini and closes the window.
class form_repertoire : public QWidget
{
    Q_OBJECT

public:
    explicit form_repertoire(ServerState &state, QWidget *parent = nullptr);

    // Opens Dir1 on the actions directory; run when the window is opened.
    void Form_Load();

    // The directory opened in Dir1 with its final separator; empty until Dir1
    // has reported one.
    QString chemin_choisi() const { return m_chemin_choisi; }

    QLabel *Label1;
    platform::DriveList *Drive1;
    platform::DirList *Dir1;
    QLabel *Label2;
    QPushButton *Command1;

Q_SIGNALS:
    // The window is closing, validated or by its close box.
    void fermee();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Dir1_change(const QString &path);
    void Command1_click();

    ServerState &m_state;
    QString m_chemin_choisi;
};
