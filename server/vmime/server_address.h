#pragma once

#include <QString>

#include <QtGlobal>

// A mail server setting read into host, port and transport security.
// "host" and "host:port" keep the plain-text dialogue of the old settings;
// "pop3://", "smtp://", "imap://" demand STARTTLS and "pop3s://", "smtps://",
// "imaps://" speak TLS from the first byte.
class ServerAddress
{
public:
    enum class Protocol { Pop3, Smtp, Imap };
    enum class Security { Plain, StartTls, Tls };

    // defaultPort serves the plain forms without a port; the URL forms have
    // the protocol's own ports (110/995, 25/465, 143/993).
    static ServerAddress parse(const QString &setting, Protocol protocol, quint16 defaultPort);

    bool isValid() const { return m_error.isEmpty(); }
    // Why the setting was refused, for the user.
    QString error() const { return m_error; }
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    Security security() const { return m_security; }
    Protocol protocol() const { return m_protocol; }
    // "host:port", with the security when there is some, for status texts.
    QString display() const;

private:
    static ServerAddress failure(const QString &setting, const QString &why);

    QString m_host;
    quint16 m_port = 0;
    Security m_security = Security::Plain;
    Protocol m_protocol = Protocol::Pop3;
    QString m_error;
};
