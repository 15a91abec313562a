#pragma once

#include "server/frame/server_state.h"

#include <QDateTime>
#include <QString>

// The monthly activity journal ("journal_yyyy-mm.txt" in the program's folder)
// and the dated lines of the main window's message log.
namespace journal {

QString mois(const QDate &date); // "yyyy-mm"
QString chemin_journal(const QString &rep_appli, const QString &mois);

// Sets mois_courant, mois_journal and fichier_journal for the current month.
void initialise(ServerState &state, const QDateTime &now);

// Follows the turn of a month: the next entries go to the new month's file.
void verifie_mois(ServerState &state, const QDateTime &now);

// One journal line: long date, " * ", long time, "  :   *** ", the text.
QString ligne_journal(const QString &text, const QDateTime &now);

// Appends the entry to the journal file, which is open only while writing and
// readable by its owner only. False when the file could not be written (error,
// when given, says why); the file then holds nothing of the entry.
bool ecrire_journal(const ServerState &state, const QString &text, const QDateTime &now,
                    QString *error = nullptr);

// "dd/mm/yy hh:mm:ss " with a 24-hour clock: the start of the message log's lines.
QString horodatage(const QDateTime &now);

} // namespace journal
