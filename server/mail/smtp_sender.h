#pragma once

#include "server/mail/authentification.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// What the replies are built from, set before each sendmessage().
struct SmtpProperties {
    QString server;   // "host", "host:port", "smtp://host[:port]" (STARTTLS required),
                      // "smtps://host[:port]"
    QString port;     // used when server names no port; empty gives 25
    QString username; // SMTP authentication when not empty
    QString password; // with JetonOAuth2, an OAuth 2.0 access token
    Authentification authentification = Authentification::MotDePasse;
    QString sendto; // the one recipient: a reply never goes to a list
    QString cc;     // must stay empty, as must bcc: a send with either is refused
    QString bcc;
    QString mailfrom; // "<address>"
    QString charset;  // empty gives UTF-8
    QString maildate; // empty gives the current date
    QString messagesubject;
    QString messagetext; // the plain part
    QString messagehtml; // shown as the HTML part, escaped, line breaks kept
    // The command mail's Message-ID and References, to thread the reply.
    QByteArray inreplyto;
    QList<QByteArray> references;
};

// A reply as composed once and kept until a server accepted it: the
// envelope and the message bytes, sent unchanged at every attempt.
struct ComposedMail {
    QString mailfrom; // the envelope sender, an addr-spec
    QString rcptto;   // the one recipient, an addr-spec
    QByteArray bytes; // the whole message, CR LF line ends
};

// Sends one mail per call. Like Pop3Session, the call returns when the
// dialogue is over, runs it off the user-interface thread and processes window
// events meanwhile; its notifications reach the caller's thread before it returns.
// Every mail carries "Auto-Submitted: auto-replied".
class SmtpSender : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~SmtpSender() override = default;

    SmtpProperties properties;
    QStringList itemlist; // attachments: the replies carry none
    // How the last send failed, set before it returns false: the server's
    // reply code (421, 550...; 0 when no answer came), and whether the same
    // mail would fail the same way again (a 5xx answer, no valid recipient,
    // an address that needs SMTPUTF8 from a server without it). A connection
    // that failed, a timeout or a 4xx answer is worth another try.
    int replycode = 0;
    bool permanentfailure = false;

    // What the last notification reports.
    virtual QString statustext() const = 0;
    // Composes the mail from properties and sends it.
    virtual void sendmessage() = 0;
    // Sends a mail composed earlier to the server of properties (server, port,
    // username, password); true once the server accepted it.
    virtual bool sendcomposed(const ComposedMail &mail) = 0;
    // Opens a session with the server of properties up to its acceptance
    // (STARTTLS and AUTH when the settings ask for them), then ends it: no
    // mail is sent. True when the server accepted; statustext() says why not.
    // A sender that cannot check says no.
    virtual bool checkconnection() { return false; }
    virtual bool busy() const = 0;

Q_SIGNALS:
    // The three notifications of a send: the server answered, the mail was
    // accepted, the session ended.
    void ConnectionMade();
    void MessageSent();
    void ConnectionClosed();
    void SMTPError(qint16 Number, const QString &Description);
};
