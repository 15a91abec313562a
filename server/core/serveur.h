#pragma once

#include "server/frame/mail_settings.h"
#include "server/frame/server_state.h"

#include <QObject>

#include <functional>
#include <memory>

class Form1;
class conf_mail;
class Pop3Session;
class SmtpSender;
class Reponse;
class Sequenceur;
class Traitement;

// The server as a whole: its state, its main window and settings dialog, and its
// two mail components. It runs the start-up, the frame's buttons and the
// shut-down; the polling cycle is the Sequenceur's.
class Serveur : public QObject
{
    Q_OBJECT

public:
    // Called once the key file is written back at shut-down, or when the start-up
    // must stop: the program then ends with that code.
    using FinProgramme = std::function<void(int code)>;

    Serveur(const QString &rep_appli, std::unique_ptr<Pop3Session> session,
            std::unique_ptr<SmtpSender> smtp, FinProgramme fin, QObject *parent = nullptr);
    ~Serveur() override;

    // The start-up, up to the moment the window can be shown. False when the key
    // file could not be opened: the message was shown and the program is to end.
    bool demarrer();

    // Runs the shut-down: the key file is written back and the program ends.
    void arret();

    ServerState &state() { return m_state; }
    Form1 &form() { return *m_form; }
    conf_mail &dialogue() { return *m_conf; }
    Pop3Session &oSession() { return *m_session; }
    SmtpSender &SMTP1() { return *m_smtp; }
    Sequenceur &sequenceur() { return *m_sequenceur; }

private:
    void configuration_mail_click();
    void enregistre_click();
    void abandon_configuration();
    void end_click();
    void cre_clefs_click();

    ServerState m_state;
    std::unique_ptr<Form1> m_form;
    conf_mail *m_conf; // owned by the main window
    std::unique_ptr<Pop3Session> m_session;
    std::unique_ptr<SmtpSender> m_smtp;
    std::unique_ptr<Traitement> m_traitement;
    std::unique_ptr<Reponse> m_reponse;
    std::unique_ptr<Sequenceur> m_sequenceur;
    MailSettingsFields m_champs; // as last loaded or saved
    FinProgramme m_fin;
    bool m_arrete = false;
};
