#pragma once

#include "server/frame/server_state.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// The monthly activity journal ("journal_yyyy-mm.txt" in the program's folder)
// and the dated lines of the main window's message log.
namespace journal {

QString mois(const QDate &date); // "yyyy-mm"
QString chemin_journal(const QString &rep_appli, const QString &mois);

// Sets mois_courant, mois_journal and fichier_journal for the current month.
void initialise(ServerState &state, const QDateTime &now);

// Follows the turn of a month: the next entries go to the new month's file.
void verifie_mois(ServerState &state, const QDateTime &now);

// Text that came from a mail (a command, a subject, a sender) may hold line
// breaks or other control characters; written as is into a line-based record
// (the journal, the logs on standard error) it would start lines of its own that
// look like the program's. Here every line break (CR LF, CR, LF, NEL, the Unicode
// line and paragraph separators) becomes one blank, none after a blank already
// there, and any other control character becomes "?": the result is one line.
QString sur_une_ligne(const QString &text);

// A one-time code as the logs show it: its first two characters, then "*".
QString masque_code(const QString &code);

// One journal entry: long date, " * ", long time, "  :   *** ", then the
// lines given, each made one line as above, joined by CR LF. An answer text
// keeps its own lines there as it is mailed; nothing a mail holds adds one.
QString ligne_journal(const QStringList &lignes, const QDateTime &now);

// Appends the entry to the journal file, which is open only while writing and
// readable by its owner only: a text is one line whatever it holds, so that
// no mail can write a line that looks like the program's own. False when the
// file could not be written (error, when given, says why); the file then
// holds nothing of the entry.
bool ecrire_journal(const ServerState &state, const QString &text, const QDateTime &now,
                    QString *error = nullptr);
// The same for an entry of several lines (an answer text, line by line).
bool ecrire_journal(const ServerState &state, const QStringList &lignes, const QDateTime &now,
                    QString *error = nullptr);

// "dd/mm/yy hh:mm:ss " with a 24-hour clock: the start of the message log's lines.
QString horodatage(const QDateTime &now);

} // namespace journal
