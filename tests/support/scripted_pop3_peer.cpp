#include "tests/support/scripted_pop3_peer.h"

#include <QTcpSocket>

namespace {

const QByteArray kFloodChunk(64 * 1024, 'x');

} // namespace

ScriptedPop3Peer::ScriptedPop3Peer(Behaviour behaviour, QByteArray message, QObject *parent)
    : QObject(parent), m_behaviour(behaviour), m_message(std::move(message))
{
    if (m_message.isEmpty())
        m_message = "From: alice@example.org\r\nSubject: Actions\r\n\r\nCommande: run.bat;\r\n";
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_sockets.append(socket);
            connect(socket, &QTcpSocket::disconnected, this, [this] { m_gone = true; });
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket](qint64 written) {
                m_sent += written;
                if (m_flooding && socket->bytesToWrite() < kFloodChunk.size())
                    flood(socket);
            });
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine())
                    onLine(socket, socket->readLine().trimmed());
            });
            if (m_behaviour == Behaviour::EndlessGreeting) {
                m_flooding = true;
                flood(socket);
            } else {
                socket->write("+OK scripted peer ready\r\n");
            }
        }
    });
    m_server.listen(QHostAddress::LocalHost, 0);
}

ScriptedPop3Peer::~ScriptedPop3Peer() { qDeleteAll(m_sockets); }

void ScriptedPop3Peer::flood(QTcpSocket *socket)
{
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->write(kFloodChunk);
}

void ScriptedPop3Peer::onLine(QTcpSocket *socket, const QByteArray &line)
{
    m_commands.append(QString::fromLatin1(line));
    const QByteArray command = line.split(' ').first().toUpper();
    const QByteArray size = QByteArray::number(m_message.size());
    if (command == "CAPA")
        socket->write("+OK\r\nUSER\r\nUIDL\r\n.\r\n");
    else if (command == "STAT")
        socket->write("+OK 2 " + QByteArray::number(2 * m_message.size()) + "\r\n");
    else if (command == "LIST" && line.contains(' '))
        socket->write("+OK " + line.split(' ').last() + ' ' + size + "\r\n");
    else if (command == "LIST")
        socket->write("+OK\r\n1 " + size + "\r\n2 " + size + "\r\n.\r\n");
    else if (command == "UIDL")
        socket->write("+OK\r\n1 scripted-1\r\n2 scripted-2\r\n.\r\n");
    else if (command == "RETR" && m_behaviour == Behaviour::EndlessRetr) {
        socket->write("+OK\r\n");
        m_flooding = true;
        flood(socket);
    } else if (command == "RETR" && m_behaviour == Behaviour::StallAtRetr)
        socket->write("+OK\r\nFrom: alice@example.org\r\n");
    else if (command == "RETR")
        socket->write("+OK\r\n" + m_message + ".\r\n");
    else if (command == "QUIT" && m_behaviour == Behaviour::StallAtQuit)
        return;
    else if (command == "QUIT") {
        socket->write("+OK bye\r\n");
        socket->disconnectFromHost();
    } else
        socket->write("+OK\r\n");
}
