#pragma once

#include "server/frame/server_state.h"

#include <QString>

#include <functional>

class Pop3Session;
class SmtpSender;
class SourceJeton;

// "tramelon --verifier": the server folder checked as the server will use
// it, without changing what the server keeps. The settings are read as at
// start-up (and what was corrected is said), the files and their rights
// looked at, the actions folder listed; the mailbox is logged in to and its
// mails counted (no RETR, no DELE), the SMTP server opened up to its
// authentication (no mail), and an OAuth 2.0 token renewed when the mailbox
// signs in by token. The key file, the journal and the mailbox stay as they
// were; only jeton_oauth2.dat takes the renewed token, as at every cycle.
class Verification
{
public:
    // One line per check, in French: passed or not.
    using Sortie = std::function<void(bool reussi, const QString &texte)>;

    // The two mail components are those the server would use (OAuth 2.0
    // wrappers around them included); jetons is their token source.
    Verification(const QString &rep_appli, Pop3Session &session, SmtpSender &smtp,
                 SourceJeton &jetons, Sortie sortie);

    // Runs every check, even after a failure; true when all passed.
    bool executer();

private:
    void dire(bool reussi, const QString &texte);
    void reglages();
    void fichiers();
    // Readable by the others while they can reach it: a password or keys in clear.
    void droits_prives(const QString &nom, const QString &chemin);
    void jeton();
    void pop3();
    void smtp();

    ServerState m_state;
    bool m_oauth2 = false;
    Pop3Session &m_session;
    SmtpSender &m_smtp;
    SourceJeton &m_jetons;
    Sortie m_sortie;
    bool m_reussi = true;
};
