#pragma once

#include "server/frame/affichage.h"

#include <QObject>

#include <cstdio>

// A server without a window: what its message log says (each judged mail,
// each fault, each change of state) goes to a stream, standard error by
// default, one dated line each; with the trace, the POP3 and SMTP dialogues
// (the window's status and SMTP logs) as well. Under the service that stream
// is the system journal: each line then starts with its priority ("<3>" a
// fault, "<4>" a warning, "<6>" an information, "<7>" the trace), so that the
// journal can show the faults alone. The journal is readable by more people
// than the key file: the code of the mail in hand is masked there, and a text
// added to a log is one line whatever a mail put in it.
class SortieConsole : public QObject
{
    Q_OBJECT

public:
    SortieConsole(const Affichage &affichage, bool trace = false, std::FILE *flux = stderr,
                  QObject *parent = nullptr);

    // "yyyy-MM-dd hh:mm:ss messages: ..." with the code masked wherever it
    // appears; empty for a text that is only a line break.
    static QString ligne(const QDateTime &moment, const QString &nom, const QString &texte,
                         const QString &code);
    // "<3>" and the like when the stream is the system journal, else nothing.
    static QString priorite(Niveau niveau, bool journal_systeme);
    // The stream is the system journal: systemd names its device and inode in
    // JOURNAL_STREAM. Compared, not merely present: a shell started by a
    // service hands the variable on to whatever its user runs.
    static bool vers_journal_systeme(std::FILE *flux);

private:
    void ecrire(Niveau niveau, const QString &nom, const QString &texte);

    const Affichage &m_affichage;
    std::FILE *m_flux;
    bool m_journal_systeme;
};
