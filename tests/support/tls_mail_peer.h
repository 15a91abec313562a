#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

class QSslSocket;

// A POP3 or SMTP server on 127.0.0.1 that presents a given certificate
// chain, from the first byte or after STLS/STARTTLS, then says yes to
// everything: enough of either dialogue for a session to log in or deliver.
// It keeps every byte the client sent, before and after TLS, so that a test
// sees whether credentials or a mail went out. It runs on the test's thread,
// which the session under test leaves free while it waits.
class TlsMailPeer : public QTcpServer
{
public:
    enum class Protocol { Pop3, Smtp };

    // chainFile: PEM certificates, the server's own first; keyFile: its EC key.
    TlsMailPeer(Protocol protocol, bool tlsFromStart, const QString &chainFile,
                const QString &keyFile);
    ~TlsMailPeer() override;

    bool isValid() const { return isListening() && !m_chain.isEmpty() && !m_key.isNull(); }
    // What the client sent, in order (decrypted once TLS is up).
    QByteArray received() const { return m_received; }
    // The client went on speaking once the handshake was over.
    bool spokeOverTls() const { return m_spokeOverTls; }
    // Bytes came that TLS could not read, such as a command sent in clear.
    bool unreadable() const { return m_unreadable; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onLine(QSslSocket *socket, const QByteArray &line);

    Protocol m_protocol;
    bool m_tlsFromStart;
    QList<QSslCertificate> m_chain;
    QSslKey m_key;
    QList<QSslSocket *> m_sockets;
    QByteArray m_received;
    bool m_spokeOverTls = false;
    bool m_unreadable = false;
    bool m_inData = false;
};
