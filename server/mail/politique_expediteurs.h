#pragma once

#include "server/frame/config_expediteurs.h"
#include "server/mail/pop3_message.h"

#include <QString>

// Why the sender of a mail may neither command the server nor be answered,
// under the "expediteurs" settings: "expéditeur non autorisé" (not in the
// list), "expéditeur non authentifié (dmarc=...)" (the receiving server's
// results do not show its From domain authenticated). Empty when it may, and
// always when neither setting is set.
QString refus_expediteur(const ReglesExpediteurs &regles, const Pop3Message &mail);
