#pragma once

#include "server/mail/pop3_message.h"

#include <QString>

// Why a processed mail gets no reply, as the message log and the journal
// show it ("Pas de réponse : ..."); empty when a reply goes to its sender.
// No reply to a sender without a valid mailbox, to a machine (list traffic,
// auto-replies, bounces), nor to the server's own reply address: any of these
// could answer back and start a mail loop.
QString raison_sans_reponse(const Pop3Message &mail, const QString &adresse_reponse);
