#pragma once

#include <QObject>
#include <QString>

// The doorbell: one connection that watches the mailbox and says at once when
// a mail comes, so that a command need not wait for the next cycle. It works
// beside the POP3 session and never in its way: whatever happens to it, the
// cycle goes on at its own pace.
class Sonnette : public QObject
{
    Q_OBJECT

public:
    // How to reach and sign in to the mailbox.
    struct Acces {
        QString serveur; // [mail] serveur_imap as written
        QString login;
        QString secret; // the password, or the OAuth 2.0 access token
        bool jeton_oauth2 = false;
    };

    using QObject::QObject;

    // Starts watching (a doorbell already running starts again with these).
    virtual void demarrer(const Acces &acces) = 0;
    // New credentials for the next connection, the one running being kept.
    virtual void changer_acces(const Acces &acces) = 0;
    // Ends the connection; nothing is signalled afterwards.
    virtual void arreter() = 0;

Q_SIGNALS:
    // A new mail is in the box.
    void courrier();
    // Signed in, the inbox watched.
    void connectee();
    // Could not connect or sign in, or the connection was lost: tried again
    // later by the doorbell itself. The reason is in French.
    void en_panne(const QString &raison);
};
