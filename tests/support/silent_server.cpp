#include "tests/support/silent_server.h"

#include <QTcpSocket>

SilentServer::SilentServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_sockets.append(socket);
            ++m_accepted;
        }
    });
    m_server.listen(QHostAddress::LocalHost, 0);
}

SilentServer::~SilentServer() { qDeleteAll(m_sockets); }
