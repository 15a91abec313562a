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
// leaves the folder once a server accepted it, when a server refused it for
// good, or when it has waited too long.
class BoiteEnvoi
{
public:
    struct Entree {
        QString fichier;    // path of its file
        qint16 numero = 0;  // the reply's number, given when it was composed
        QDateTime composee; // UTC
        ComposedMail mail;
    };

    // What one send round did.
    struct Tour {
        int envoyees = 0;
        int restantes = 0;
        QStringList lignes; // for the message log and the journal, one per event
    };

    static constexpr qint64 kDelaiAbandonJours = 7;

    explicit BoiteEnvoi(const QString &dossier);

    QString dossier() const { return m_dossier; }

    // Writes the reply owner-only and durably (synced, renamed into place,
    // the folder synced). False when it could not be stored; erreur() says why.
    // etiquette, when given, names the reply for contient().
    [[nodiscard]] bool ajoute(qint16 numero, const ComposedMail &mail, const QDateTime &now,
                              const QString &etiquette = {});
    // Whether a reply stored with that label still waits in the folder.
    bool contient(const QString &etiquette) const;
    // The stored replies, oldest first. Files that cannot be read are set
    // aside (renamed *.illisible) and reported in erreur().
    QList<Entree> en_attente();
    [[nodiscard]] bool retire(const Entree &entree);

    // Sends what the folder holds, oldest first. A reply the server accepted
    // is removed, and so is one it refused for good (a 5xx answer...), with
    // one line saying so; one that failed for a while (4xx, no connection, a
    // timeout) stays for a later round; when no session could be opened the
    // round stops, since the others would fail the same way. A reply still
    // unsent kDelaiAbandonJours after it was composed is abandoned: removed,
    // with a line saying so.
    Tour envoie(SmtpSender &smtp, const QDateTime &now);

    QString erreur() const { return m_erreur; }

private:
    QString m_dossier;
    QString m_erreur;
    bool m_envoi_en_cours = false;
};
