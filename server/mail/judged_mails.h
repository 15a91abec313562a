#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

// The mails already judged, kept in a small file of the server folder. A mail
// whose deletion never reached the server (a crash, a connection cut at DELE or
// at QUIT) comes back in the next listing; found here, it is deleted without
// being judged, launched or answered a second time. An entry is on disk
// (written, synced, renamed into place) before anything is launched for its
// mail. The record keeps the last 10,000 mails of the last 30 days.
class JudgedMails
{
public:
    static constexpr int kMaxEntrees = 10000;
    static constexpr int kMaxJours = 30;

    explicit JudgedMails(QString path);

    // Reads the record; a missing file is an empty record. False when the file
    // exists but cannot be read (error says why): the record is then empty.
    bool charger(QString *error = nullptr);

    // What names a mail across sessions: the server's UIDL when it gives one,
    // else the Message-ID with the size, else a digest of the mail's bytes with
    // the size (a mail with neither must not be taken for another of its size).
    // mail is the whole mail as fetched; it is not read when there is a UIDL.
    static QString identite(const QString &uidl, const QByteArray &mail, qint64 size);
    // The same mail's name among all mailboxes: a UIDL is unique within one
    // mailbox only, and a server may give a used one again to a new mail. The
    // mailbox is the login at the server, as the settings name them.
    static QString identite_dans(const QString &serveur, const QString &login, const QString &uidl,
                                 const QByteArray &mail, qint64 size);
    // The Message-ID of a mail's header block, unfolded, without its angle brackets.
    static QString message_id(const QByteArray &mail);

    bool contient(const QString &identite) const;

    // Before a mail is read: a mail whose reading never ended (the server
    // stopped during it, or it ran past its bounds) is not read again.
    enum class Lecture {
        Lire,           // recorded as being read, or already known
        Interrompue,    // its last reading never ended: set it aside unread
        NonEnregistree, // the record could not be written: leave the mail alone
    };
    Lecture commencer_lecture(const QString &identite, const QDateTime &now,
                              QString *error = nullptr);

    // Adds the mail, not finished yet (or moves it from being read to being
    // judged), and rewrites the record at once, dropping entries beyond its bounds. False when it
    // could not be put on disk (error says why): the mail must then not be acted on.
    bool enregistrer(const QString &identite, const QString &messageId, const QDateTime &now,
                     QString *error = nullptr);
    // The mail's judgement is over (launched or refused, journalled). A mail
    // recorded but never finished was being processed when the server stopped.
    bool terminer(const QString &identite, QString *error = nullptr);
    bool termine(const QString &identite) const;
    // Read, recorded, its judgement not over: the server stopped during it.
    bool en_cours(const QString &identite) const;

    QString chemin() const { return m_path; }
    int taille() const { return int(m_entrees.size()); }

private:
    enum class Etat { Termine, EnCours, EnLecture };
    struct Entree {
        QDateTime moment;
        QString identite;
        QString messageId;
        Etat etat = Etat::Termine;
    };

    // The index of the last entry of that mail, -1 when none.
    qsizetype derniere(const QString &identite) const;
    bool ajouter(const Entree &entree, QString *error);
    bool ecrire(const QList<Entree> &entrees, QString *error);

    QString m_path;
    QList<Entree> m_entrees;      // oldest first
    QHash<QString, int> m_compte; // how many entries name each identity
};
