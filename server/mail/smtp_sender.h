#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// What the replies are built from, set before each sendmessage().
struct SmtpProperties {
    QString server;   // "host", "host:port", "smtp://host[:port]" (STARTTLS required), "smtps://host[:port]"
    QString port;     // used when server names no port; empty gives 25
    QString username; // SMTP authentication when not empty
    QString password;
    QString sendto;   // bare address
    QString cc;
    QString bcc;
    QString mailfrom; // "<address>"
    QString charset;  // empty gives UTF-8
    QString maildate; // empty gives the current date
    QString messagesubject;
    QString messagetext; // the plain part
    QString messagehtml; // shown as the HTML part, escaped, line breaks kept
};

// Sends one mail per sendmessage(). Like Pop3Session, the call returns when the
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

    // What the last notification reports.
    virtual QString statustext() const = 0;
    virtual void sendmessage() = 0;
    virtual bool busy() const = 0;

Q_SIGNALS:
    // The three notifications of a send: the server answered, the mail was
    // accepted, the session ended.
    void ConnectionMade();
    void MessageSent();
    void ConnectionClosed();
    void SMTPError(qint16 Number, const QString &Description);
};
