#pragma once

#include "server/frame/affichage.h"

#include <QObject>

#include <cstdio>

// A server without a window: what the window's logs would show (the message
// log, the POP3 status log, the SMTP log) goes to a stream, standard error by
// default, one dated line each, named after its log. Under the service that
// stream is the system journal, readable by more people than the key file: the
// code of the mail in hand is masked there, and a text added to a log is one
// line whatever a mail put in it.
class SortieConsole : public QObject
{
    Q_OBJECT

public:
    SortieConsole(const Affichage &affichage, std::FILE *flux = stderr, QObject *parent = nullptr);

    // "yyyy-MM-dd hh:mm:ss messages: ..." for the text added to a log, with the
    // code masked wherever it appears; empty for a field that is not a log and
    // for a text that is only a line break.
    static QString ligne(const QDateTime &moment, Champ champ, const QString &texte,
                         const QString &code);

private:
    std::FILE *m_flux;
};
