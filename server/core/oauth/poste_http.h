#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <atomic>

// What came back from one form posted: the HTTP status, the body (never more
// than the cap), or why there was no answer.
struct ReponseHttp {
    int statut = 0;
    QByteArray corps;
    QString echec;          // empty when the endpoint answered
    bool trop_long = false; // the body went past the cap: the transfer was ended there
};

// Posts a form and waits for the answer, on the calling thread. The body is
// read as it comes and the transfer ends as soon as it passes tailleMax:
// nothing below this function reads on (Qt's network thread did, at loopback
// speed, before an abort reached it). No proxy (it would see the refresh
// token), no redirection (it would carry the form elsewhere); timeoutMs
// without a byte either way ends it, and so does annule, soon after it is set.
ReponseHttp poster_borne(const QUrl &url, const QByteArray &formulaire, int timeoutMs,
                         qint64 tailleMax, const std::atomic<bool> &annule);
