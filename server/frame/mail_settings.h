#pragma once

#include <QString>

// The fields of the mail settings dialog, as text, so that reading and saving
// the settings can run and be tested without the dialog.
struct MailSettingsFields {
    QString serveur_mail;
    QString serveur_pop;
    QString repondre_a;
    bool auth_smtp = false;
    QString login;
    QString Password;
    QString duree;
    // [mail] connexion=oauth2: the mailbox takes an OAuth 2.0 token, not Password.
    bool connexion_oauth2 = false;
    // [mail] serveur_imap: not in the dialog, read only.
    QString serveur_imap;
};
