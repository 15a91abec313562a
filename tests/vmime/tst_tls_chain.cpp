// The certificate chains mail servers present, checked by both components
// against real TLS peers on 127.0.0.1 with certificates made for the run:
// only a chain that verifies up to the trusted root, for this host, lets a
// credential or a mail out.
#include "server/vmime/mail_failure.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "tests/support/suite_avec_lecteur.h"
#include "tests/support/tls_mail_peer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestTlsChain : public SuiteAvecLecteur
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCOMPARE(QProcess::execute(QStringLiteral(CERTIFICATE_SCRIPT), {m_dir.path()}), 0);
    }
    void chains_data();
    void chains();

private:
    QTemporaryDir m_dir;
};

void TestTlsChain::chains_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("chain");  // a file of make-test-certificates
    QTest::addColumn<QString>("reason"); // a part of GnuTLS's reason; empty: accepted

    const char *const chains[][3] = {
        {"genuine", "genuine", ""},
        {"forged leaf, issuer's key identifier", "forged", "signature"},
        {"forged leaf, no key identifier", "forged-bare", "signature"},
        {"expired leaf", "expired", "expired"},
        {"wrong host", "other-host", "name in the certificate does not match"},
        {"self-signed", "self-signed", "issuer is unknown"},
        {"missing intermediate", "alone", "issuer is unknown"},
    };
    for (const char *scheme : {"pop3s", "pop3", "smtps", "smtp"})
        for (const auto &row : chains)
            QTest::addRow("%s, %s", scheme, row[0])
                << QString::fromLatin1(scheme) << QString::fromLatin1(row[1])
                << QString::fromLatin1(row[2]);
}

void TestTlsChain::chains()
{
    QFETCH(QString, scheme);
    QFETCH(QString, chain);
    QFETCH(QString, reason);

    const bool pop3 = scheme.startsWith(QLatin1String("pop3"));
    TlsMailPeer peer(pop3 ? TlsMailPeer::Protocol::Pop3 : TlsMailPeer::Protocol::Smtp,
                     scheme.endsWith(QLatin1Char('s')), m_dir.filePath(chain + ".pem"),
                     m_dir.filePath(QStringLiteral("leaf.key")));
    QVERIFY(peer.isValid());
    const QString server = QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(peer.serverPort());
    const QByteArray password = "s3cret-pass";
    const QByteArray body = "body of the reply";

    QList<QVariantList> errors;
    if (pop3) {
        VmimePop3Session session;
        session.setTimeout(5000);
        session.addTrustedCertificates(m_dir.filePath(QStringLiteral("root.pem")));
        QSignalSpy spy(&session, &Pop3Session::ErrorPOP3);
        QCOMPARE(session.Open(server, 110, QStringLiteral("alice"), QString::fromLatin1(password)),
                 reason.isEmpty() ? 0 : int(MailError::CertificateRejected));
        session.Close();
        errors = spy;
    } else {
        VmimeSmtpSender sender;
        sender.setTimeout(5000);
        sender.addTrustedCertificates(m_dir.filePath(QStringLiteral("root.pem")));
        QSignalSpy spy(&sender, &SmtpSender::SMTPError);
        QSignalSpy sent(&sender, &SmtpSender::MessageSent);
        sender.properties.server = server;
        sender.properties.mailfrom = QStringLiteral("<tramelon@example.net>");
        sender.properties.sendto = QStringLiteral("alice@example.org");
        sender.properties.messagetext = QString::fromLatin1(body);
        sender.sendmessage();
        QCOMPARE(sent.count(), reason.isEmpty() ? 1 : 0);
        errors = spy;
    }

    const QByteArray wire = peer.received();
    QVERIFY(!peer.unreadable());
    if (reason.isEmpty()) {
        QVERIFY2(errors.isEmpty(), qPrintable(errors.value(0).value(1).toString()));
        QVERIFY(peer.spokeOverTls());
        QVERIFY(wire.contains(pop3 ? "PASS " + password : body));
        return;
    }
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.first().at(0).value<qint16>(), qint16(MailError::CertificateRejected));
    const QString line = errors.first().at(1).toString();
    QVERIFY2(line.startsWith(QStringLiteral("certificat du serveur 127.0.0.1 refusé : ")) &&
                 line.contains(reason, Qt::CaseInsensitive),
             qPrintable(line));
    // Nothing went out after the handshake: no login, no envelope, no mail,
    // not even a QUIT in clear.
    QVERIFY(!peer.spokeOverTls());
    for (const QByteArray &word : {QByteArray("USER"), QByteArray("PASS"), QByteArray("AUTH"),
                                   QByteArray("MAIL FROM"), password, body})
        QVERIFY2(!wire.contains(word), wire.constData());
}

QTEST_MAIN(TestTlsChain)
#include "tst_tls_chain.moc"
