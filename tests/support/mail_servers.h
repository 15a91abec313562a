#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <QtGlobal>

// The private mail servers that scripts/mail-servers starts for the tests
// (ctest fixture "mail_servers"), read from DIR/servers.env.
//
// POP3 (Dovecot): pop3Port() plain text with STARTTLS offered, pop3sPort()
// TLS from the first byte, certificate caCert() (self-signed, for 127.0.0.1);
// accounts pop3Users() "u1".."u12", all with pop3Password(). Test programs
// running side by side must not share an account: tst_pop3_session takes
// u1..u5, tst_program_isolation u10, tst_oauth2_e2e u11, tst_sender_policy_e2e
// u12, tst_operator_start op1, tst_service s1..s3; the others are free for
// end-to-end tests. tst_resultat_e2e has r1 to itself.
// SMTP (aiosmtpd): smtpPort() takes any mail, smtpAuthPort() requires AUTH
// with smtpUser()/smtpPassword(); both write into one Maildir, each mail with
// the envelope in its X-MailFrom and X-RcptTo headers. Tell the mails of one
// test from those of another by a recipient address of its own.
// OAuth 2.0, by value() of these keys: IDENTITY_PORT, the test identity
// service (scripts/identity-service.py); OAUTH_USERS "o1".."o3", POP3 accounts
// that sign in with its tokens (tst_oauth2_e2e takes them); SMTP_OAUTH_PORT,
// an SMTP server where only AUTH XOAUTH2 with such a token succeeds.
// Token sign-in whatever the server offers: TOKEN_POP3_XOAUTH2_PORT,
// TOKEN_POP3_OAUTHBEARER_PORT, TOKEN_POP3_BOTH_PORT, Dovecot servers that
// take tokens only (any user with a live token, its mailbox made on the
// first sign-in; tst_sasl_jeton_serveurs takes the users "jeton-..."), and
// TOKEN_SMTP_XOAUTH2_PORT, TOKEN_SMTP_OAUTHBEARER_PORT, TOKEN_SMTP_BOTH_PORT,
// TOKEN_SMTP_BOTH_PLAIN_PORT, SMTP servers offering exactly those mechanisms.
class MailServers
{
public:
    // One mail the SMTP server received.
    struct ReceivedMail {
        QString path;       // its file
        QByteArray raw;     // as stored, with the headers aiosmtpd adds on top
        QString mailFrom;   // envelope sender (X-MailFrom)
        QStringList rcptTo; // envelope recipients (X-RcptTo)
    };

    // Reads dir/servers.env; dir defaults to the fixture's folder.
    explicit MailServers(const QString &dir = QStringLiteral(MAIL_SERVERS_DIR));

    // False when servers.env is missing or incomplete; error() says why.
    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    QString root() const { return value(QStringLiteral("ROOT")); }
    QString value(const QString &key) const { return m_values.value(key); }
    quint16 pop3Port() const { return port(QStringLiteral("POP3_PORT")); }
    quint16 pop3sPort() const { return port(QStringLiteral("POP3S_PORT")); }
    quint16 smtpPort() const { return port(QStringLiteral("SMTP_PORT")); }
    quint16 smtpAuthPort() const { return port(QStringLiteral("SMTP_AUTH_PORT")); }
    QString caCert() const { return value(QStringLiteral("CA_CERT")); }
    QStringList pop3Users() const
    {
        return value(QStringLiteral("POP3_USERS")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    QString pop3Password() const { return value(QStringLiteral("POP3_PASSWORD")); }
    QString smtpUser() const { return value(QStringLiteral("SMTP_USER")); }
    QString smtpPassword() const { return value(QStringLiteral("SMTP_PASSWORD")); }

    // Puts a raw message into the user's mailbox (new/, owned by dovecot), as
    // a delivery agent would. Messages delivered one after the other are
    // listed by the server in that order. Returns the file, empty on failure.
    QString deliver(const QString &user, const QByteArray &raw) const;
    // Same with the contents of a file (e.g. one of tests/data/*.eml).
    QString deliverFile(const QString &user, const QString &emlPath) const;
    // Messages left in the user's mailbox (new/ and cur/).
    int messageCount(const QString &user) const;
    // Empties the user's mailbox: each test starts from a known box.
    void clearMailbox(const QString &user) const;

    // Mails the SMTP servers received, oldest first; with a recipient, only
    // those whose envelope names it.
    QList<ReceivedMail> receivedMails(const QString &recipient = {}) const;
    // Removes the received mails sent to that recipient (all when empty).
    void clearReceived(const QString &recipient = {}) const;

    // A port on 127.0.0.1 where nothing listens (found free, then released).
    static quint16 unusedPort();

private:
    quint16 port(const QString &key) const { return static_cast<quint16>(value(key).toUInt()); }
    QString mailbox(const QString &user) const;

    QHash<QString, QString> m_values;
    QString m_error;
};
