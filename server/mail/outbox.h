#pragma once

#include "server/mail/smtp_sender.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The replies not yet accepted by the SMTP server, one file each in a folder
// of the server's folder. A reply is stored as soon as it is composed, so
// neither a server that is down nor a crash before the send loses it; it
// leaves the folder once a server accepted it, or when it has waited too long.
class Outbox
{
public:
    struct Entry {
        QString file;       // path of its file
        qint16 numero = 0;  // the reply's number, given when it was composed
        QDateTime composed; // UTC
        ComposedMail mail;
    };

    // What one send round did.
    struct Round {
        int sent = 0;
        int left = 0;
        QStringList lines; // for the message log and the journal, one per event
    };

    static constexpr qint64 kDelaiAbandonJours = 7;

    explicit Outbox(const QString &folder);

    QString folder() const { return m_folder; }

    // Writes the reply owner-only and atomically (flushed to disk, then
    // renamed into place). False when it could not be stored; error() says why.
    bool ajoute(qint16 numero, const ComposedMail &mail,
                const QDateTime &now = QDateTime::currentDateTimeUtc());
    // The stored replies, oldest first. Files that cannot be read are set
    // aside (renamed *.illisible) and reported in error().
    QList<Entry> en_attente();
    bool retire(const Entry &entry);

    // Sends what the folder holds, oldest first. A reply the server accepted
    // is removed; one it refused stays for a later round; when no session
    // could be opened the round stops, since the others would fail the same
    // way. A reply still unsent kDelaiAbandonJours after it was composed is
    // abandoned: removed, with a line saying so.
    Round envoie(SmtpSender &smtp, const QDateTime &now = QDateTime::currentDateTimeUtc());

    QString error() const { return m_error; }

private:
    QString m_folder;
    QString m_error;
    bool m_envoi_en_cours = false;
};
