#pragma once

#include "server/frame/server_state.h"

#include <QString>
#include <QStringList>

// What the server says once at start-up, in the message log (so on standard
// error without a window) and in the journal: what it runs with, and why it
// does not poll when it does not. An operator who started it on a fresh
// folder sees at once what is set and what is missing.
namespace resume_demarrage {

// Said when polling stays off for want of a reply address, at start-up and
// when the settings are saved without one.
QString texte_sans_adresse_reponse();

// How a server setting is reached: "TLS dès la connexion" (pop3s://,
// smtps://), "STARTTLS exigé" (pop3://, smtp://), "en clair" (a bare host),
// or why the prefix is not understood.
QString forme_serveur(const QString &reglage);

// The summary, one line each: version and folder, the keys left, the actions
// folder and its batch files, the POP3 and SMTP servers with their form and
// sign-in, the cycle, each setting read otherwise than written. Polling's
// absence is the caller's to say: it knows whether polling starts.
QStringList lignes(const ServerState &state, bool oauth2, const QString &version);

} // namespace resume_demarrage
