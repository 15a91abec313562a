#pragma once

#include "server/mail/pop3_session.h"

#include <memory>

class SourceJeton;

// The mailbox session with OAuth 2.0 sign-in around another session: when
// pop3.ini says connexion=oauth2, each Open starts a new cycle of the token
// source, takes its access token (renewed first when it is about to expire)
// and opens the session with it in place of the password. With password
// sign-in everything passes through unchanged.
class Pop3OAuth2 : public Pop3Session
{
    Q_OBJECT

public:
    Pop3OAuth2(std::unique_ptr<Pop3Session> session, SourceJeton &source,
               QObject *parent = nullptr);
    ~Pop3OAuth2() override;

    qint32 Open(const QString &server, qint32 port, const QString &user,
                const QString &password) override;
    qint32 RefreshList() override { return m_session->RefreshList(); }
    qint32 MailboxFigure1() const override { return m_session->MailboxFigure1(); }
    qint32 MailboxFigure2() const override { return m_session->MailboxFigure2(); }
    QList<Pop3MessageInfo> MessageList() const override { return m_session->MessageList(); }
    std::optional<Pop3Message> FetchMessage(qint32 number, const QString &archivePath) override;
    qint32 DeleteMessage(qint32 number) override { return m_session->DeleteMessage(number); }
    void Close() override { m_session->Close(); }
    qint32 State() const override { return m_session->State(); }
    bool Busy() const override;
    void Cancel() override;

    Pop3Session &session() { return *m_session; }

private:
    std::unique_ptr<Pop3Session> m_session;
    SourceJeton &m_source;
};
