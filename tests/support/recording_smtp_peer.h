#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// An SMTP server on 127.0.0.1 that accepts every mail and keeps the command
// lines exactly as they came, CR LF included: real servers rewrite the envelope
// before a test could see it. It answers on the test's thread while the sender
// waits in its nested event loop. With smtpUtf8, EHLO offers SMTPUTF8.
class RecordingSmtpPeer : public QObject
{
    Q_OBJECT

public:
    explicit RecordingSmtpPeer(bool smtpUtf8, QObject *parent = nullptr);
    ~RecordingSmtpPeer() override;

    quint16 port() const { return m_server.serverPort(); }
    // The first command line that starts with verb, empty when none came.
    QByteArray command(const QByteArray &verb) const;

private:
    QTcpServer m_server;
    QList<QTcpSocket *> m_sockets;
    QList<QByteArray> m_commands;
};
