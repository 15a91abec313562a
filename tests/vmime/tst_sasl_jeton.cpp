// Signing in with an access token: the SASL mechanism the POP3 session picks
// from what the server offers, byte for byte as it reaches the server.
#include "server/vmime/vmime_pop3_session.h"
#include "tests/support/suite_avec_lecteur.h"

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
                ++connections;
                s->write("+OK ready\r\n");
                connect(s, &QTcpSocket::readyRead, s, [this, s, mechanisms] {
                    while (s->canReadLine()) {
                        const QByteArray line = s->readLine().trimmed();
                        commands.append(line);
                        const QByteArray verb = line.split(' ').first().toUpper();
                        if (verb == "CAPA")
                            s->write("+OK\r\nUIDL\r\n" +
                                     (mechanisms.isEmpty() ? "" : "SASL " + mechanisms + "\r\n") +
                                     ".\r\n");
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
    int connections = 0;
    QList<QByteArray> accepted{"user=box@example.org\x01"
                               "auth=Bearer tok-123\x01\x01",
                               "n,a=box@example.org,\x01"
                               "auth=Bearer tok-123\x01\x01",
                               "n,a=a=2Cb=3Dc@example.org,\x01"
                               "auth=Bearer tok-123\x01\x01"};
};

class TestSaslJeton : public SuiteAvecLecteur
{
    Q_OBJECT

private Q_SLOTS:
    void mechanismChosenFromTheOffer_data()
    {
        QTest::addColumn<QByteArray>("offered");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QByteArray>("used"); // empty: no sign-in is attempted
        QTest::addColumn<QString>("error");   // part of the error, when one is expected
        const QString box = "box@example.org";
        const QString tok = "tok-123";
        const QString neither =
            "ne prend pas la connexion par jeton OAuth 2.0 (ni XOAUTH2 ni OAUTHBEARER)";
        QTest::newRow("both offered: XOAUTH2") << QByteArray("PLAIN XOAUTH2 OAUTHBEARER") << box
                                               << tok << QByteArray("AUTH XOAUTH2") << "";
        QTest::newRow("OAUTHBEARER and PLAIN") << QByteArray("PLAIN OAUTHBEARER") << box << tok
                                               << QByteArray("AUTH OAUTHBEARER") << "";
        QTest::newRow("XOAUTH2 alone")
            << QByteArray("XOAUTH2") << box << tok << QByteArray("AUTH XOAUTH2") << "";
        QTest::newRow("token refused: no word of a password")
            << QByteArray("XOAUTH2") << box << "tok-dead" << QByteArray("AUTH XOAUTH2")
            << QString::fromUtf8("le serveur POP3 n'a pas accepté le jeton d'accès (XOAUTH2)");
        QTest::newRow("no token mechanism, the offer named")
            << QByteArray("PLAIN LOGIN") << box << tok << QByteArray()
            << neither + " : il propose PLAIN LOGIN";
        QTest::newRow("no SASL at all") << QByteArray() << box << tok << QByteArray()
                                        << neither + " : il ne propose aucune connexion SASL";
        QTest::newRow("comma and equals escaped in the GS2 header")
            << QByteArray("OAUTHBEARER") << "a,b=c@example.org" << tok
            << QByteArray("AUTH OAUTHBEARER") << "";
        QTest::newRow("control character in the user name")
            << QByteArray("XOAUTH2") << "box@example.org\x01x" << tok << QByteArray()
            << QString::fromUtf8("nom d'utilisateur contient un caractère de contrôle");
        QTest::newRow("line break in the token")
            << QByteArray("OAUTHBEARER") << box << "tok\r\nQUIT" << QByteArray()
            << QString::fromUtf8("jeton d'accès contient un caractère de contrôle");
    }
    void mechanismChosenFromTheOffer()
    {
        QFETCH(QByteArray, offered);
        QFETCH(QString, user);
        QFETCH(QString, token);
        QFETCH(QByteArray, used);
        QFETCH(QString, error);
        SaslPeer peer(offered);
        VmimePop3Session session;
        session.setTimeout(5000);
        session.SetAuthMethod(Authentification::JetonOAuth2);
        QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
        const qint32 result =
            session.Open("127.0.0.1:" + QString::number(peer.serverPort()), 110, user, token);
        QCOMPARE(result == 0, error.isEmpty());
        QCOMPARE(errors.size(), error.isEmpty() ? 0 : 1);
        if (!error.isEmpty())
            QVERIFY2(errors.first().at(1).toString().contains(error),
                     qPrintable(errors.first().at(1).toString()));
        QList<QByteArray> auths;
        for (const QByteArray &c : peer.commands)
            if (c.startsWith("AUTH") || c.startsWith("USER") || c.startsWith("PASS"))
                auths.append(c.left(c.lastIndexOf(' ') > 5 ? c.lastIndexOf(' ') : c.size()));
        // One sign-in, by the token, never by password.
        QCOMPARE(auths, used.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{used});
        // A string that cannot be sent stops everything before the connection.
        if (error.contains(QString::fromUtf8("contrôle")))
            QCOMPARE(peer.connections, 0);
        session.Close();
    }
};

QTEST_GUILESS_MAIN(TestSaslJeton)
#include "tst_sasl_jeton.moc"
