// Signing in with an access token: the SASL mechanism the POP3 session picks
// from what the server offers, byte for byte as it reaches the server.
#include "server/vmime/vmime_pop3_session.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// A POP3 server offering the SASL mechanisms it is given; it takes any AUTH
// whose initial response names the user and the token as RFC 7628 or the
// XOAUTH2 convention write them.
class SaslPeer : public QTcpServer
{
public:
    explicit SaslPeer(const QByteArray &mechanisms)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this, mechanisms] {
            while (QTcpSocket *s = nextPendingConnection()) {
                s->write("+OK ready\r\n");
                connect(s, &QTcpSocket::readyRead, s, [this, s, mechanisms] {
                    while (s->canReadLine()) {
                        const QByteArray line = s->readLine().trimmed();
                        commands.append(line);
                        const QByteArray verb = line.split(' ').first().toUpper();
                        if (verb == "CAPA")
                            s->write("+OK\r\nUIDL\r\nSASL " + mechanisms + "\r\n.\r\n");
                        else if (verb == "AUTH")
                            s->write(
                                accepted.contains(QByteArray::fromBase64(line.split(' ').value(2)))
                                    ? "+OK Logged in.\r\n"
                                    : "-ERR refused\r\n");
                        else if (verb == "STAT")
                            s->write("+OK 0 0\r\n");
                        else if (verb == "LIST" || verb == "UIDL")
                            s->write("+OK\r\n.\r\n");
                        else if (verb == "USER" || verb == "PASS")
                            s->write("-ERR no passwords here\r\n");
                        else
                            s->write("+OK\r\n");
                    }
                });
            }
        });
    }
    QList<QByteArray> commands;
    QList<QByteArray> accepted{"user=box@example.org\x01"
                               "auth=Bearer tok-123\x01\x01",
                               "n,a=box@example.org,\x01"
                               "auth=Bearer tok-123\x01\x01"};
};

class TestSaslJeton : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mechanismChosenFromTheOffer_data()
    {
        QTest::addColumn<QByteArray>("offered");
        QTest::addColumn<QByteArray>("used"); // empty: no sign-in is attempted
        QTest::newRow("both offered: XOAUTH2")
            << QByteArray("PLAIN XOAUTH2 OAUTHBEARER") << QByteArray("AUTH XOAUTH2");
        QTest::newRow("OAUTHBEARER only")
            << QByteArray("PLAIN OAUTHBEARER") << QByteArray("AUTH OAUTHBEARER");
        QTest::newRow("no token mechanism") << QByteArray("PLAIN LOGIN") << QByteArray();
    }
    void mechanismChosenFromTheOffer()
    {
        QFETCH(QByteArray, offered);
        QFETCH(QByteArray, used);
        SaslPeer peer(offered);
        VmimePop3Session session;
        session.setTimeout(5000);
        session.SetAuthMethod(Authentification::JetonOAuth2);
        QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
        const qint32 result = session.Open("127.0.0.1:" + QString::number(peer.serverPort()), 110,
                                           "box@example.org", "tok-123");
        QCOMPARE(result == 0, !used.isEmpty());
        QCOMPARE(errors.isEmpty(), !used.isEmpty());
        QList<QByteArray> auths;
        for (const QByteArray &c : peer.commands)
            if (c.startsWith("AUTH") || c.startsWith("USER") || c.startsWith("PASS"))
                auths.append(c.left(c.lastIndexOf(' ') > 5 ? c.lastIndexOf(' ') : c.size()));
        // One sign-in, by the token, never by password.
        QCOMPARE(auths, used.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{used});
        session.Close();
    }
};

QTEST_GUILESS_MAIN(TestSaslJeton)
#include "tst_sasl_jeton.moc"
