#pragma once

#include "server/frame/server_state.h"

#include <QObject>
#include <QPointer>
#include <QString>

class Form1;
class form_repertoire;
class form_repertoire_2;

// The main window's "Choix répertoire actions" and "Création répertoire
// preparation mails": each opens its window modeless and stays disabled while
// the window is open, so that only one of each exists. The polling cycle is
// left running.
class OutilsOperateur : public QObject
{
    Q_OBJECT

public:
    OutilsOperateur(ServerState &state, Form1 &form, QObject *parent = nullptr);
    // executable: the preparation tool's file name in rep_appli.
    OutilsOperateur(ServerState &state, Form1 &form, const QString &executable,
                    QObject *parent = nullptr);

    // The open windows, null once closed.
    form_repertoire *fenetreRepertoire() const;
    form_repertoire_2 *fenetreClient() const;

private:
    void repertoire_click();
    void cre_client_click();

    ServerState &m_state;
    Form1 &m_form;
    QString m_executable;
    QPointer<form_repertoire> m_repertoire;
    QPointer<form_repertoire_2> m_client;
};
