#include "tests/support/tls_mail_peer.h"

#include <QFile>
#include <QHash>
#include <QSslConfiguration>
#include <QSslSocket>

namespace {

const QByteArray kGreeting[] = {"+OK test peer\r\n", "220 peer.test ESMTP\r\n"};
const QByteArray kYes[] = {"+OK\r\n", "250 OK\r\n"};
const QHash<QByteArray, QByteArray> kAnswers[] = {
    {{"CAPA", "+OK\r\nSTLS\r\nUSER\r\n.\r\n"},
     {"STLS", "+OK begin TLS\r\n"},
     {"STAT", "+OK 0 0\r\n"},
     {"LIST", "+OK\r\n.\r\n"},
     {"UIDL", "+OK\r\n.\r\n"},
     {"QUIT", "+OK bye\r\n"}},
    {{"EHLO", "250-peer.test\r\n250 STARTTLS\r\n"},
     {"STARTTLS", "220 begin TLS\r\n"},
     {"DATA", "354 go on\r\n"},
     {"QUIT", "221 bye\r\n"}},
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TlsMailPeer::TlsMailPeer(Protocol protocol, bool tlsFromStart, const QString &chainFile,
                         const QString &keyFile)
    : m_protocol(protocol), m_tlsFromStart(tlsFromStart),
      m_chain(QSslCertificate::fromPath(chainFile)), m_key(readFile(keyFile), QSsl::Ec)
{
    listen(QHostAddress::LocalHost, 0);
}

TlsMailPeer::~TlsMailPeer() { qDeleteAll(m_sockets); }

void TlsMailPeer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket;
    m_sockets.append(socket);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(m_chain);
    configuration.setPrivateKey(m_key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket->setSslConfiguration(configuration);
    socket->setSocketDescriptor(descriptor);
    const QByteArray greeting = kGreeting[int(m_protocol)];
    connect(socket, &QSslSocket::readyRead, this, [this, socket] {
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine();
            m_received += line;
            onLine(socket, line.trimmed());
        }
    });
    connect(socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        m_unreadable = m_unreadable || error != QAbstractSocket::RemoteHostClosedError;
    });
    if (!m_tlsFromStart) {
        socket->write(greeting);
        return;
    }
    connect(socket, &QSslSocket::encrypted, this, [socket, greeting] { socket->write(greeting); });
    socket->startServerEncryption();
}

void TlsMailPeer::onLine(QSslSocket *socket, const QByteArray &line)
{
    m_spokeOverTls = m_spokeOverTls || socket->isEncrypted();
    if (m_inData) {
        if (line == ".") {
            m_inData = false;
            socket->write("250 queued\r\n");
        }
        return;
    }
    const QByteArray command = line.split(' ').first().toUpper();
    const int protocol = int(m_protocol);
    socket->write(kAnswers[protocol].value(command, kYes[protocol]));
    if (command == "STLS" || command == "STARTTLS")
        socket->startServerEncryption();
    else if (command == "DATA")
        m_inData = true;
    else if (command == "QUIT")
        socket->disconnectFromHost();
}
