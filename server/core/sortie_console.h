#pragma once

#include "server/frame/affichage.h"

#include <QObject>

#include <cstdio>

// A server without a window: what the window's logs would show (the message
// log, the POP3 status log, the SMTP log) goes to a stream, standard error by
// default, one dated line each, named after its log.
class SortieConsole : public QObject
{
    Q_OBJECT

public:
    SortieConsole(const Affichage &affichage, std::FILE *flux = stderr, QObject *parent = nullptr);

    // "yyyy-MM-dd hh:mm:ss messages: ..." for each line of the text; a text not
    // ended by a line break is one line all the same.
    static QStringList lignes(const QDateTime &moment, Champ champ, const QString &texte);

private:
    std::FILE *m_flux;
};
