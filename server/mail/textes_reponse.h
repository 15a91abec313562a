#pragma once

#include <QString>

#include <QtGlobal>

// The texts of the replies, which the journal keeps too. Each begins with one
// blank and none ends with a line break; lines are joined by CR LF. The
// command is repeated as commande_citee() gives it: short, on one line.

// The command was launched.
QString texte_acceptation(const QString &commande);
// Every other mail: not a command mail, a code refused, a command not allowed.
QString texte_refus(const QString &commande);
// The shell could not start the command; resultat is what it answered.
QString texte_echec(const QString &commande, qint32 resultat);
// A mail the server was processing when it stopped: its command may have run.
QString texte_interrompu(const QString &commande);
