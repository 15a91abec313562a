#include "tests/support/recording_smtp_peer.h"

#include <QTcpSocket>

RecordingSmtpPeer::RecordingSmtpPeer(bool smtpUtf8, QObject *parent)
    : QObject(parent), m_smtpUtf8(smtpUtf8)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_sockets.append(socket);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine())
                    onLine(socket, socket->readLine());
            });
            socket->write("220 recording peer\r\n");
        }
    });
    m_server.listen(QHostAddress::LocalHost, 0);
}

RecordingSmtpPeer::~RecordingSmtpPeer() { qDeleteAll(m_sockets); }

QByteArray RecordingSmtpPeer::command(const QByteArray &verb) const
{
    for (const QByteArray &line : m_commands) {
        if (line.startsWith(verb))
            return line;
    }
    return {};
}

void RecordingSmtpPeer::onLine(QTcpSocket *socket, const QByteArray &line)
{
    if (m_inData) {
        if (line == ".\r\n") {
            m_inData = false;
            socket->write("250 accepted\r\n");
        }
        return;
    }
    m_commands.append(line);
    const QByteArray verb = line.left(4).toUpper();
    if (verb == "EHLO")
        socket->write(m_smtpUtf8 ? "250-recording peer\r\n250-8BITMIME\r\n250 SMTPUTF8\r\n"
                                 : "250-recording peer\r\n250 8BITMIME\r\n");
    else if (verb == "DATA") {
        m_inData = true;
        socket->write("354 go on\r\n");
    } else if (verb == "QUIT") {
        socket->write("221 bye\r\n");
        socket->disconnectFromHost();
    } else
        socket->write("250 ok\r\n");
}
