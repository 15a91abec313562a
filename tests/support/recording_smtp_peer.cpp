#include "tests/support/recording_smtp_peer.h"

#include <QTcpSocket>

#include <memory>

RecordingSmtpPeer::RecordingSmtpPeer(bool smtpUtf8, QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this, smtpUtf8] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_sockets.append(socket);
            auto inData = std::make_shared<bool>(false);
            connect(socket, &QTcpSocket::readyRead, this, [=, this] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine();
                    if (*inData) {
                        *inData = line != ".\r\n";
                        socket->write(*inData ? "" : "250 accepted\r\n");
                        continue;
                    }
                    m_commands.append(line);
                    const QByteArray verb = line.left(4).toUpper();
                    *inData = verb == "DATA";
                    if (verb == "EHLO")
                        socket->write(smtpUtf8 ? "250-peer\r\n250 SMTPUTF8\r\n" : "250 peer\r\n");
                    else
                        socket->write(*inData ? "354 go on\r\n" : "250 ok\r\n");
                }
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
