// The vmime POP3 session against a real Dovecot server (fixture mail_servers).
#include "server/vmime/mail_failure.h"
#include "server/vmime/mail_parser.h"
#include "server/vmime/vmime_pop3_session.h"
#include "tests/support/mail_servers.h"
#include "tests/support/silent_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {

QString dataFile(const QString &name) { return QStringLiteral(TEST_DATA_DIR "/") + name; }

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString local(quint16 port) { return QStringLiteral("127.0.0.1:%1").arg(port); }

} // namespace

class TestPop3Session : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void listsThreeMessages();
    void fetchesRealMail_data();
    void fetchesRealMail();
    void deleteTakesEffectAtClose();
    void failures_data();
    void failures();
    void statusLinesNeverShowThePassword();
    void tls_data();
    void tls();
    void waitsInEventLoopAndRefusesReentry();
    void callsWithoutSessionAreHarmless();

private:
    MailServers m_servers;
};

void TestPop3Session::initTestCase()
{
    QVERIFY2(m_servers.isValid(), qPrintable(m_servers.error()));
}

void TestPop3Session::listsThreeMessages()
{
    const QString user = QStringLiteral("u1");
    m_servers.clearMailbox(user);
    const QStringList files = {dataFile("plain_ascii.eml"), dataFile("latin1.eml"),
                               dataFile("alternative_html.eml")};
    for (const QString &file : files)
        QVERIFY(!m_servers.deliverFile(user, file).isEmpty());

    VmimePop3Session session;
    QSignalSpy connected(&session, &Pop3Session::Connected);
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QCOMPARE(session.Open(local(m_servers.pop3Port()), 110, user, m_servers.pop3Password()), 0);
    QCOMPARE(connected.count(), 1);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(session.State(), Pop3Session::kStateTransaction);

    QCOMPARE(session.RefreshList(), 0);
    const QList<Pop3MessageInfo> list = session.MessageList();
    QCOMPARE(list.size(), 3);
    qint64 total = 0;
    QSet<QString> uidls;
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(list[i].MsgNumber, i + 1);
        QCOMPARE(list[i].MsgSize, readFile(files[i]).size());
        QVERIFY(!list[i].Uidl.isEmpty());
        uidls.insert(list[i].Uidl);
        total += list[i].MsgSize;
    }
    QCOMPARE(uidls.size(), 3);
    QCOMPARE(session.MailboxFigure1(), 3);
    QCOMPARE(session.MailboxFigure2(), total);

    QSignalSpy closed(&session, &Pop3Session::Closed);
    session.Close();
    QCOMPARE(closed.count(), 1);
    QCOMPARE(session.State(), Pop3Session::kStateClosed);
    QVERIFY(session.MessageList().isEmpty());
    QCOMPARE(m_servers.messageCount(user), 3);
}

void TestPop3Session::fetchesRealMail_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("bodyStart");

    QTest::newRow("plain ascii, dot-stuffed lines") << "plain_ascii.eml"
                                                    << "Actions"
                                                    << "alice@example.org"
                                                    << "Commande: run.bat;\r\nCode: AB12CD34EF56;";
    QTest::newRow("utf-8 quoted-printable")
        << "utf8_quoted_printable.eml" << QString::fromUtf8("Résultat du jour")
        << "francois@example.fr"
        << "Bonjour, voici une ligne assez longue pour que le programme de messagerie la coupe "
           "avec";
    QTest::newRow("base64 utf-8") << "base64_utf8.eml" << QString::fromUtf8("Grüße")
                                  << "juergen@example.de" << QString::fromUtf8("Grüße aus Köln.");
    QTest::newRow("multipart/alternative with html") << "alternative_html.eml"
                                                     << "Actions"
                                                     << "bob@example.com"
                                                     << "Commande: run.bat;\r\nCode: ZZ99YY88XX77;";
    QTest::newRow("html only") << "html_only.eml"
                               << "Only HTML"
                               << "carla@example.it"
                               << "Commande: run.bat;";
    QTest::newRow("iso-8859-1") << "latin1.eml" << QString::fromUtf8("Café crème")
                                << "helene@example.fr"
                                << QString::fromUtf8("Un café crème, s'il vous plaît.");
    QTest::newRow("rfc 2047 subject") << "encoded_subject.eml"
                                      << "Actions"
                                      << "relay-user@example.net"
                                      << "Commande: run.bat;";
}

void TestPop3Session::fetchesRealMail()
{
    QFETCH(QString, file);
    QFETCH(QString, subject);
    QFETCH(QString, sender);
    QFETCH(QString, bodyStart);

    const QString user = QStringLiteral("u2");
    m_servers.clearMailbox(user);
    QVERIFY(!m_servers.deliverFile(user, dataFile(file)).isEmpty());

    VmimePop3Session session;
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QCOMPARE(session.Open(local(m_servers.pop3Port()), 110, user, m_servers.pop3Password()), 0);
    const std::optional<Pop3Message> mail = session.FetchMessage(1, false);
    session.Close();
    QVERIFY2(mail.has_value(), errors.isEmpty() ? "" : qPrintable(errors.first().at(1).toString()));

    const QByteArray sent = readFile(dataFile(file));
    QCOMPARE(mail->raw, sent);
    QCOMPARE(mail->Subject, subject);
    QCOMPARE(mail->Sender.Address, sender);
    QVERIFY2(mail->Body.startsWith(bodyStart), qPrintable(mail->Body));

    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("message.eml"));
    QVERIFY(mail->SaveAs(archive));
    QCOMPARE(readFile(archive), sent);
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 1);
}

void TestPop3Session::deleteTakesEffectAtClose()
{
    const QString user = QStringLiteral("u3");
    m_servers.clearMailbox(user);
    QVERIFY(!m_servers.deliverFile(user, dataFile("plain_ascii.eml")).isEmpty());
    QVERIFY(!m_servers.deliverFile(user, dataFile("latin1.eml")).isEmpty());

    VmimePop3Session session;
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QCOMPARE(session.Open(local(m_servers.pop3Port()), 110, user, m_servers.pop3Password()), 0);
    QCOMPARE(session.RefreshList(), 0);
    QCOMPARE(session.MailboxFigure1(), 2);
    QCOMPARE(session.DeleteMessage(1), 0);
    QCOMPARE(errors.count(), 0);

    // Marked only: the mailbox still holds it, and this session no longer lists it.
    QCOMPARE(m_servers.messageCount(user), 2);
    QCOMPARE(session.RefreshList(), 0);
    QCOMPARE(session.MailboxFigure1(), 1);
    QCOMPARE(session.MessageList().first().MsgNumber, 2);

    QVERIFY(!session.FetchMessage(1, false).has_value());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(MailError::NoSuchMessage));
    QCOMPARE(session.State(), Pop3Session::kStateTransaction);

    session.Close();
    QCOMPARE(m_servers.messageCount(user), 1);

    QCOMPARE(session.Open(local(m_servers.pop3Port()), 110, user, m_servers.pop3Password()), 0);
    const auto left = session.FetchMessage(1, false);
    session.Close();
    QVERIFY(left.has_value());
    QCOMPARE(left->Subject, QString::fromUtf8("Café crème"));
}

void TestPop3Session::failures_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("error");

    const MailServers servers;
    QTest::newRow("wrong password")
        << local(servers.pop3Port()) << "not-the-password" << int(MailError::AuthenticationFailed);
    QTest::newRow("closed port") << local(MailServers::unusedPort()) << "secret"
                                 << int(MailError::ConnectionRefused);
    QTest::newRow("unknown host") << "no-such-host.invalid"
                                  << "secret" << int(MailError::HostNotFound);
    QTest::newRow("bad setting") << "pop3://"
                                 << "secret" << int(MailError::BadAddress);
    QTest::newRow("tls required, plain server")
        << QStringLiteral("pop3s://127.0.0.1:%1").arg(servers.pop3Port()) << "secret"
        << int(MailError::TlsFailure);
}

void TestPop3Session::failures()
{
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(int, error);

    VmimePop3Session session;
    session.setTimeout(5000);
    QSignalSpy connected(&session, &Pop3Session::Connected);
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QSignalSpy status(&session, &Pop3Session::StatusChanged);
    QCOMPARE(session.Open(server, 110, QStringLiteral("u4"), password), error);

    QCOMPARE(connected.count(), 0);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(error));
    QVERIFY(!errors.first().at(1).toString().isEmpty());
    QCOMPARE(status.last().at(1).toInt(), 8);
    QCOMPARE(session.State(), Pop3Session::kStateClosed);
    QVERIFY(!session.busy());
}

void TestPop3Session::statusLinesNeverShowThePassword()
{
    for (const QString &password : {m_servers.pop3Password(), QStringLiteral("wrong-s3cret")}) {
        VmimePop3Session session;
        QStringList lines;
        QList<int> types;
        connect(&session, &Pop3Session::StatusChanged, this, [&](const QString &line, qint32 type) {
            lines.append(line);
            types.append(type);
        });
        session.Open(local(m_servers.pop3Port()), 110, QStringLiteral("u4"), password);
        session.Close();

        for (const QString &line : std::as_const(lines))
            QVERIFY2(!line.contains(password), qPrintable(line));
        const qsizetype user = lines.indexOf(QStringLiteral("USER u4"));
        QVERIFY2(user >= 0, qPrintable(lines.join(QLatin1Char('|'))));
        QCOMPARE(types[user], 2);
        const qsizetype pass = lines.indexOf(QRegularExpression(QStringLiteral("^PASS \\*+$")));
        QVERIFY(pass > user);
        QCOMPARE(types[pass], 2);
        QVERIFY(types.contains(1));
        QVERIFY(types.contains(4));
        QCOMPARE(types[lines.indexOf(QRegularExpression(QStringLiteral("^\\+OK")))], 1);
    }
}

void TestPop3Session::tls_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<int>("error");

    QTest::newRow("pop3s, test CA trusted") << "pop3s" << true << 0;
    QTest::newRow("pop3s, unknown certificate")
        << "pop3s" << false << int(MailError::CertificateRejected);
    QTest::newRow("starttls, test CA trusted") << "pop3" << true << 0;
    QTest::newRow("starttls, unknown certificate")
        << "pop3" << false << int(MailError::CertificateRejected);
}

void TestPop3Session::tls()
{
    QFETCH(QString, scheme);
    QFETCH(bool, trusted);
    QFETCH(int, error);

    const QString user = QStringLiteral("u5");
    m_servers.clearMailbox(user);
    QVERIFY(!m_servers.deliverFile(user, dataFile("plain_ascii.eml")).isEmpty());
    const quint16 port =
        scheme == QLatin1String("pop3s") ? m_servers.pop3sPort() : m_servers.pop3Port();

    VmimePop3Session session;
    if (trusted)
        session.addTrustedCertificates(m_servers.caCert());
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QStringList sent;
    connect(&session, &Pop3Session::StatusChanged, this, [&](const QString &line, qint32 type) {
        if (type == 2)
            sent.append(line);
    });
    QCOMPARE(session.Open(QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port), 110, user,
                          m_servers.pop3Password()),
             error);
    if (error != 0) {
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(error));
        // Refused before any credentials went out.
        QVERIFY(!sent.contains(QStringLiteral("USER u5")));
        QCOMPARE(session.State(), Pop3Session::kStateClosed);
        return;
    }
    if (scheme == QLatin1String("pop3"))
        QVERIFY(sent.contains(QStringLiteral("STLS")));
    const auto mail = session.FetchMessage(1, false);
    session.Close();
    QVERIFY(mail.has_value());
    QCOMPARE(mail->raw, readFile(dataFile("plain_ascii.eml")));
}

void TestPop3Session::waitsInEventLoopAndRefusesReentry()
{
    SilentServer silent;
    QVERIFY(silent.isListening());
    VmimePop3Session session;
    session.setTimeout(1500);

    bool ranDuringCall = false;
    bool busyDuringCall = false;
    qint32 reentered = 0;
    QTimer::singleShot(0, this, [&] {
        ranDuringCall = true;
        busyDuringCall = session.busy();
        reentered = session.Open(local(m_servers.pop3Port()), 110, QStringLiteral("u4"),
                                 QStringLiteral("x"));
    });
    QThread *const caller = QThread::currentThread();
    QList<QThread *> signalThreads;
    QList<qint16> errors;
    connect(
        &session, &Pop3Session::ErrorPOP3, this,
        [&](qint16 number, const QString &) {
            signalThreads.append(QThread::currentThread());
            errors.append(number);
        },
        Qt::DirectConnection);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.Open(local(silent.port()), 110, QStringLiteral("u4"), QStringLiteral("x")),
             int(MailError::Timeout));
    // The limit holds: no waiting for the server beyond the timeout (and some slack).
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(silent.connectionCount(), 1);

    QVERIFY(ranDuringCall);
    QVERIFY(busyDuringCall);
    QCOMPARE(reentered, int(MailError::Busy));
    QCOMPARE(errors, (QList<qint16>{static_cast<qint16>(MailError::Busy),
                                    static_cast<qint16>(MailError::Timeout)}));
    for (QThread *thread : std::as_const(signalThreads))
        QCOMPARE(thread, caller);
    QVERIFY(!session.busy());
}

void TestPop3Session::callsWithoutSessionAreHarmless()
{
    VmimePop3Session session;
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QSignalSpy closed(&session, &Pop3Session::Closed);

    session.Close();
    QCOMPARE(closed.count(), 0);
    QVERIFY(session.RefreshList() != 0);
    QVERIFY(session.MessageList().isEmpty());
    QCOMPARE(session.MailboxFigure1(), 0);
    QCOMPARE(session.MailboxFigure2(), 0);
    QVERIFY(!session.FetchMessage(1, false).has_value());
    QVERIFY(session.DeleteMessage(1) != 0);
    QCOMPARE(errors.count(), 2);
    QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(MailError::NotConnected));
    QCOMPARE(session.State(), Pop3Session::kStateClosed);
}

QTEST_MAIN(TestPop3Session)
#include "tst_pop3_session.moc"
