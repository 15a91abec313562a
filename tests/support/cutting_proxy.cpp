#include "tests/support/cutting_proxy.h"

#include <QTcpSocket>

CuttingProxy::CuttingProxy(quint16 upstreamPort, QByteArray cutAt, QObject *parent)
    : QTcpServer(parent), m_upstream(upstreamPort), m_cutAt(cutAt.toUpper())
{
    listen(QHostAddress::LocalHost);
    connect(this, &QTcpServer::newConnection, this, &CuttingProxy::relay);
}

QString CuttingProxy::address() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }

void CuttingProxy::relay()
{
    while (QTcpSocket *client = nextPendingConnection()) {
        auto *server = new QTcpSocket(client);
        server->connectToHost(QHostAddress::LocalHost, m_upstream);
        // Client lines go up one at a time, so that the cut falls exactly on
        // the command and nothing after it reaches the server.
        connect(client, &QTcpSocket::readyRead, server, [this, client, server] {
            while (client->canReadLine()) {
                const QByteArray line = client->readLine();
                if (m_cuts == 0 && line.toUpper().startsWith(m_cutAt)) {
                    ++m_cuts;
                    server->abort();
                    client->abort();
                    client->deleteLater();
                    return;
                }
                server->write(line);
            }
        });
        connect(server, &QTcpSocket::readyRead, client,
                [client, server] { client->write(server->readAll()); });
        connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    }
}
