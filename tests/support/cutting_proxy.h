#pragma once

#include <QByteArray>
#include <QTcpServer>

// A relay between a client and a real server on 127.0.0.1 that drops both
// connections the first time the client sends a given command, before the
// server sees it: a connection lost at DELE or at QUIT, as a flaky network
// loses it. Later connections go through whole.
class CuttingProxy : public QTcpServer
{
    Q_OBJECT

public:
    CuttingProxy(quint16 upstreamPort, QByteArray cutAt, QObject *parent = nullptr);

    // "127.0.0.1:port" of the relay.
    QString address() const;
    // Connections cut so far.
    int cuts() const { return m_cuts; }

private:
    void relay();

    quint16 m_upstream;
    QByteArray m_cutAt;
    int m_cuts = 0;
};
