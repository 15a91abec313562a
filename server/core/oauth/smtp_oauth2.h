#pragma once

#include "server/mail/smtp_sender.h"

#include <memory>

class SourceJeton;

// The reply sender with OAuth 2.0 sign-in around another sender: when
// pop3.ini says connexion=oauth2 and the replies are sent with
// authentication, each send signs in with the cycle's access token in place
// of the password. Otherwise everything passes through unchanged.
class SmtpOAuth2 : public SmtpSender
{
    Q_OBJECT

public:
    SmtpOAuth2(std::unique_ptr<SmtpSender> sender, SourceJeton &source, QObject *parent = nullptr);
    ~SmtpOAuth2() override;

    QString statustext() const override;
    void sendmessage() override;
    bool sendcomposed(const ComposedMail &mail) override;
    bool checkconnection() override;
    bool busy() const override;

private:
    // Hands properties on; false (the error told) when no token could be had.
    bool prepare();

    std::unique_ptr<SmtpSender> m_sender;
    SourceJeton &m_source;
    QString m_erreur;
};
