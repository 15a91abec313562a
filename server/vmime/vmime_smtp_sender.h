#pragma once

#include "server/mail/smtp_sender.h"
#include "server/vmime/server_address.h"

#include <QStringList>

#include <memory>
#include <optional>

// The server's SMTP sender on vmime.
//
// sendmessage() runs the dialogue on a worker thread and waits for it in a
// nested event loop: window events, timer ticks and clicks are handled
// meanwhile, and callers must hold their step while busy() is true. A
// sendmessage() made while another is in flight only reports MailError::Busy.
// Notifications reach the caller's thread in order before it returns:
// ConnectionMade once the server accepted the session (after STARTTLS and
// AUTH), MessageSent once it accepted the mail, ConnectionClosed once the
// session ended (also after a failure past ConnectionMade); SMTPError, with a
// MailError number, for every failure. statustext() says what the last
// notification reports. No exception ever leaves it.
//
// sendmessage() composes the mail with compose_reply(): From
// properties.mailfrom ("<address>"), To the one valid mailbox of sendto (a
// sendto that holds none is refused, never guessed at), the subject, the
// plain part messagetext and the HTML part showing messagehtml. sendcomposed()
// sends bytes composed earlier unchanged. SMTP AUTH when username is not
// empty. itemlist is not sent: replies carry no attachment.
class VmimeSmtpSender : public SmtpSender
{
    Q_OBJECT

public:
    explicit VmimeSmtpSender(QObject *parent = nullptr);
    ~VmimeSmtpSender() override;

    // For connect and for each command; 30 s unless set.
    void setTimeout(int milliseconds);
    int timeout() const;
    // A PEM file of certificates trusted besides the system store.
    void addTrustedCertificates(const QString &pemFile);

    QString statustext() const override;
    void sendmessage() override;
    bool sendcomposed(const ComposedMail &mail) override;
    bool checkconnection() override;
    bool busy() const override;

private:
    struct Private;
    struct Dialogue;

    // The server to send to; nothing (and the failure reported) when the
    // sender is busy, the setting is not understood or the envelope is empty.
    // With no mail (a check of the connection) only the server is looked at.
    std::optional<ServerAddress> checkedServer(const ComposedMail *mail);

    // Signs in as properties say and runs the dialogue on the mail thread;
    // true when the server accepted it.
    bool converse(Dialogue &dialogue);

    void notify(void (SmtpSender::*signal)(), const QString &text);
    void fail(qint16 number, const QString &description);

    std::unique_ptr<Private> d;
};
