#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// A POP3 server on 127.0.0.1 that holds two copies of one message and
// misbehaves on cue:
// the peer of the tests of stalls and floods, which a real server will not
// stage. It runs on the test's thread, so it answers while the session under
// test waits in its nested event loop.
class ScriptedPop3Peer : public QObject
{
    Q_OBJECT

public:
    enum class Behaviour {
        Normal,
        EndlessGreeting, // sends bytes without a line end instead of "+OK"
        EndlessRetr,     // answers RETR with "+OK" and then bytes without end
        StallAtRetr,     // answers RETR with "+OK" and a line, then nothing
        StallAtQuit,     // never answers QUIT
    };

    explicit ScriptedPop3Peer(Behaviour behaviour, QByteArray message = {},
                              QObject *parent = nullptr);
    ~ScriptedPop3Peer() override;

    quint16 port() const { return m_server.serverPort(); }
    // The commands received, in order, without their line ends.
    QStringList commands() const { return m_commands; }
    qint64 bytesSent() const { return m_sent; }
    // The client has closed the connection.
    bool clientGone() const { return m_gone; }

private:
    void onLine(QTcpSocket *socket, const QByteArray &line);
    void flood(QTcpSocket *socket);

    Behaviour m_behaviour;
    QByteArray m_message;
    QTcpServer m_server;
    QList<QTcpSocket *> m_sockets;
    QStringList m_commands;
    qint64 m_sent = 0;
    bool m_flooding = false;
    bool m_gone = false;
};
