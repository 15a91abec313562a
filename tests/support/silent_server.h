#pragma once

#include <QList>
#include <QObject>
#include <QTcpServer>

#include <memory>

class QTcpSocket;

// A TCP server on 127.0.0.1 that accepts connections and never says a word:
// the peer of timeout tests. Connections are held open until it is destroyed.
class SilentServer : public QObject
{
    Q_OBJECT

public:
    explicit SilentServer(QObject *parent = nullptr);
    ~SilentServer() override;

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    // Connections accepted so far.
    int connectionCount() const { return m_accepted; }

private:
    QTcpServer m_server;
    QList<QTcpSocket *> m_sockets;
    int m_accepted = 0;
};
