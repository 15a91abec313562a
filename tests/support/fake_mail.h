#pragma once

#include "server/mail/pop3_session.h"
#include "server/mail/smtp_sender.h"

#include <QStringList>

// Test doubles for the server's frame tests: a mailbox in memory and a sender
// that keeps what it was asked to send. The mail tests use the real components
// against real servers.
class FakePop3Session : public Pop3Session
{
    Q_OBJECT

public:
    QList<Pop3Message> mailbox;
    QList<qint32> deleted;
    int opened = 0;
    int closed = 0;
    bool refuse = false;           // Open fails with ErrorPOP3
    bool loseOnDelete = false;     // the connection drops on DELE
    QList<QByteArray> unfetchable; // raw bytes of mails whose fetch always fails
    int failingFetches = 0;        // the next fetches that fail, whatever the mail

    qint32 Open(const QString &, qint32, const QString &, const QString &) override;
    qint32 RefreshList() override { return 0; }
    qint32 MailboxFigure1() const override { return qint32(mailbox.size()); }
    qint32 MailboxFigure2() const override;
    QList<Pop3MessageInfo> MessageList() const override;
    // Writes the message's raw bytes to the archive, as the real session does.
    std::optional<Pop3Message> FetchMessage(qint32 number, const QString &archivePath) override;
    qint32 DeleteMessage(qint32 number) override;
    void Close() override;
    qint32 State() const override { return m_open ? kStateTransaction : kStateClosed; }
    bool Busy() const override { return false; }
    void Cancel() override {}
    // The next mails get UIDLs given before, as another mailbox or a server
    // that reuses them would.
    void reuseUidls() { m_prochainUidl = 1; }

private:
    // Each message keeps its UIDL across sessions, as on a real server, and a
    // mailbox the test fills anew gets new ones.
    void suivreUidls() const;

    bool m_open = false;
    mutable QList<QByteArray> m_connus; // the raw bytes of the messages the UIDLs belong to
    mutable QStringList m_uidls;
    mutable int m_prochainUidl = 1;
};

class FakeSmtpSender : public SmtpSender
{
    Q_OBJECT

public:
    QList<SmtpProperties> sent;
    QList<ComposedMail> composed;
    bool refuse = false; // sendcomposed fails with SMTPError
    QString statustext() const override { return QStringLiteral("ok"); }
    void sendmessage() override;
    bool sendcomposed(const ComposedMail &mail) override;
    bool busy() const override { return false; }
};
