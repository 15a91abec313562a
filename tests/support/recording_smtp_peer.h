#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// An SMTP server on 127.0.0.1 that keeps every command line exactly as the
// client sent it, line end included, and accepts every mail. Real servers
// parse and rewrite the envelope before a test could see it; this one shows
// the bytes a relay receives. It runs on the test's thread, so it answers
// while the sender under test waits in its nested event loop.
class RecordingSmtpPeer : public QObject
{
    Q_OBJECT

public:
    // With smtpUtf8, the EHLO answer offers SMTPUTF8.
    explicit RecordingSmtpPeer(bool smtpUtf8 = false, QObject *parent = nullptr);
    ~RecordingSmtpPeer() override;

    quint16 port() const { return m_server.serverPort(); }
    // The command lines received, with their CR LF; the mail data is not among them.
    QList<QByteArray> commands() const { return m_commands; }
    // The first command line that starts with this verb ("RCPT", "MAIL"), empty when none.
    QByteArray command(const QByteArray &verb) const;

private:
    void onLine(QTcpSocket *socket, const QByteArray &line);

    bool m_smtpUtf8;
    QTcpServer m_server;
    QList<QTcpSocket *> m_sockets;
    QList<QByteArray> m_commands;
    bool m_inData = false;
};
