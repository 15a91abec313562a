// Server settings read into host, port and transport security.
#include "server/vmime/server_address.h"

#include <QTest>

using Protocol = ServerAddress::Protocol;
using Security = ServerAddress::Security;

Q_DECLARE_METATYPE(ServerAddress::Protocol)
Q_DECLARE_METATYPE(ServerAddress::Security)

class TestMailAddress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valid_data();
    void valid();
    void invalid_data();
    void invalid();
};

void TestMailAddress::valid_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<quint16>("defaultPort");
    QTest::addColumn<QString>("host");
    QTest::addColumn<quint16>("port");
    QTest::addColumn<Security>("security");

    QTest::newRow("host") << "pop.example.net" << Protocol::Pop3 << quint16(110)
                          << "pop.example.net" << quint16(110) << Security::Plain;
    QTest::newRow("host, caller's port") << "mail.example.net" << Protocol::Smtp << quint16(25)
                                         << "mail.example.net" << quint16(25) << Security::Plain;
    QTest::newRow("host:port") << "127.0.0.1:2110" << Protocol::Pop3 << quint16(110) << "127.0.0.1"
                               << quint16(2110) << Security::Plain;
    QTest::newRow("blanks around") << "  pop.example.net:995  " << Protocol::Pop3 << quint16(110)
                                   << "pop.example.net" << quint16(995) << Security::Plain;
    QTest::newRow("pop3 url") << "pop3://pop.example.net" << Protocol::Pop3 << quint16(2000)
                              << "pop.example.net" << quint16(110) << Security::StartTls;
    QTest::newRow("pop3s url") << "pop3s://pop.example.net" << Protocol::Pop3 << quint16(110)
                               << "pop.example.net" << quint16(995) << Security::Tls;
    QTest::newRow("pop3s url with port")
        << "POP3S://pop.example.net:1995/" << Protocol::Pop3 << quint16(110) << "pop.example.net"
        << quint16(1995) << Security::Tls;
    QTest::newRow("smtp url") << "smtp://relay.example.net" << Protocol::Smtp << quint16(25)
                              << "relay.example.net" << quint16(25) << Security::StartTls;
    QTest::newRow("smtp url with port")
        << "smtp://relay.example.net:587" << Protocol::Smtp << quint16(25) << "relay.example.net"
        << quint16(587) << Security::StartTls;
    QTest::newRow("smtps url") << "smtps://relay.example.net" << Protocol::Smtp << quint16(25)
                               << "relay.example.net" << quint16(465) << Security::Tls;
    QTest::newRow("imap url") << "imap://imap.example.net" << Protocol::Imap << quint16(143)
                              << "imap.example.net" << quint16(143) << Security::StartTls;
    QTest::newRow("imaps url with port")
        << "imaps://imap.example.net:1993" << Protocol::Imap << quint16(143) << "imap.example.net"
        << quint16(1993) << Security::Tls;
    QTest::newRow("ipv6 literal") << "[::1]:2525" << Protocol::Smtp << quint16(25) << "::1"
                                  << quint16(2525) << Security::Plain;
    QTest::newRow("63 characters")
        << "pop3s://a-rather-long-host-name.mail.subdomain.example.net:65535" << Protocol::Pop3
        << quint16(110) << "a-rather-long-host-name.mail.subdomain.example.net" << quint16(65535)
        << Security::Tls;
}

void TestMailAddress::valid()
{
    QFETCH(QString, setting);
    QFETCH(Protocol, protocol);
    QFETCH(quint16, defaultPort);
    QFETCH(QString, host);
    QFETCH(quint16, port);
    QFETCH(Security, security);

    const ServerAddress address = ServerAddress::parse(setting, protocol, defaultPort);
    QVERIFY2(address.isValid(), qPrintable(address.error()));
    QCOMPARE(address.host(), host);
    QCOMPARE(address.port(), port);
    QCOMPARE(address.security(), security);
}

void TestMailAddress::invalid_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<Protocol>("protocol");
    QTest::addColumn<QString>("reason");

    QTest::newRow("empty") << "" << Protocol::Pop3 << "pas de nom de serveur";
    QTest::newRow("blanks only") << "   " << Protocol::Smtp << "pas de nom de serveur";
    QTest::newRow("port only") << ":110" << Protocol::Pop3 << "pas de nom de serveur";
    QTest::newRow("empty port") << "host:" << Protocol::Pop3 << "port vide";
    QTest::newRow("port not a number")
        << "host:pop" << Protocol::Pop3 << "n'est pas un numéro de port";
    QTest::newRow("port zero") << "host:0" << Protocol::Pop3 << "n'est pas un numéro de port";
    QTest::newRow("port too big") << "host:65536" << Protocol::Pop3
                                  << "n'est pas un numéro de port";
    QTest::newRow("signed port") << "host:+25" << Protocol::Smtp << "n'est pas un numéro de port";
    QTest::newRow("smtp scheme for pop3")
        << "smtp://host" << Protocol::Pop3 << "inconnu pour un serveur";
    QTest::newRow("pop3s scheme for smtp")
        << "pop3s://host" << Protocol::Smtp << "inconnu pour un serveur";
    QTest::newRow("imap") << "imap://host" << Protocol::Pop3
                          << "inconnu pour un serveur POP3 ; formes connues : pop3:// (STARTTLS "
                             "exigé), pop3s:// (TLS dès la connexion), ou hôte[:port]";
    QTest::newRow("url without host") << "pop3s://" << Protocol::Pop3 << "pas de nom de serveur";
    QTest::newRow("path") << "pop3://host/inbox" << Protocol::Pop3 << "n'est pas un nom de serveur";
    QTest::newRow("user in url") << "pop3://me@host" << Protocol::Pop3
                                 << "n'est pas un nom de serveur";
    QTest::newRow("blank inside") << "pop example.net" << Protocol::Pop3
                                  << "n'est pas un nom de serveur";
    QTest::newRow("unclosed ipv6") << "[::1:25" << Protocol::Smtp << "non refermé";
}

void TestMailAddress::invalid()
{
    QFETCH(QString, setting);
    QFETCH(Protocol, protocol);
    QFETCH(QString, reason);

    const ServerAddress address = ServerAddress::parse(setting, protocol, 110);
    QVERIFY(!address.isValid());
    QVERIFY2(address.error().contains(reason), qPrintable(address.error()));
}

QTEST_GUILESS_MAIN(TestMailAddress)
#include "tst_mail_address.moc"
