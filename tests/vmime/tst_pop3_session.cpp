// The vmime POP3 session against a real Dovecot server (fixture mail_servers).
#include "server/vmime/mail_failure.h"
#include "server/vmime/mail_limits.h"
#include "server/vmime/vmime_pop3_session.h"
#include "tests/support/mail_servers.h"
#include "tests/support/scripted_pop3_peer.h"
#include "tests/support/silent_server.h"
#include "tests/support/suite_avec_lecteur.h"

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

// The longest the test thread's event loop went without a turn while it ran.
class EventLoopProbe
{
public:
    EventLoopProbe()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer,
                         [this] { m_longest = std::max(m_longest, m_clock.restart()); });
        m_clock.start();
        m_timer.start();
    }
    qint64 longestMs()
    {
        m_longest = std::max(m_longest, m_clock.elapsed());
        return m_longest;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// A multipart nested depth times, around one line of text.
QByteArray nestedMail(int depth)
{
    QByteArray mail = "From: mallory@example.org\r\nSubject: Actions\r\nMIME-Version: 1.0\r\n";
    for (int i = 0; i < depth; ++i)
        mail += "Content-Type: multipart/mixed; boundary=\"b" + QByteArray::number(i) +
                "\"\r\n\r\n--b" + QByteArray::number(i) + "\r\n";
    mail += "Content-Type: text/plain\r\n\r\nCommande: run.bat;\r\n";
    for (int i = depth - 1; i >= 0; --i)
        mail += "--b" + QByteArray::number(i) + "--\r\n";
    return mail;
}

QByteArray manyHeaders(int count, int length)
{
    QByteArray mail = "From: mallory@example.org\r\nSubject: Actions\r\n";
    for (int i = 0; i < count; ++i)
        mail += "X-Filler-" + QByteArray::number(i) + ": " + QByteArray(length, 'h') + "\r\n";
    return mail + "\r\nCommande: run.bat;\r\n";
}

} // namespace

class TestPop3Session : public SuiteAvecLecteur
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
    void callOutlivesAQuitOfTheEventLoops();
    void mailBeyondTheReaderLimitsIsSetAside_data();
    void mailBeyondTheReaderLimitsIsSetAside();
    void mailOverTheSizeLimitIsNotFetched();
    void hostilePeers_data();
    void hostilePeers();
    void cancelEndsTheCallThenTheSession();

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
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("message.eml"));
    QCOMPARE(session.Open(local(m_servers.pop3Port()), 110, user, m_servers.pop3Password()), 0);
    const std::optional<Pop3Message> mail = session.FetchMessage(1, archive);
    session.Close();
    QVERIFY2(mail.has_value(), errors.isEmpty() ? "" : qPrintable(errors.first().at(1).toString()));

    QCOMPARE(mail->Subject, subject);
    QCOMPARE(mail->Sender.Address, sender);
    QVERIFY2(mail->Body.startsWith(bodyStart), qPrintable(mail->Body));
    QVERIFY(mail->Unreadable.isEmpty());

    QCOMPARE(readFile(archive), readFile(dataFile(file)));
    // It may hold a code still valid: nobody else reads it.
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther;
    QCOMPARE(QFile::permissions(archive) & others, QFileDevice::Permissions());
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

    QTemporaryDir dir;
    QVERIFY(!session.FetchMessage(1, dir.filePath("gone.eml")).has_value());
    QVERIFY(!QFile::exists(dir.filePath("gone.eml")));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(MailError::NoSuchMessage));
    QCOMPARE(session.State(), Pop3Session::kStateTransaction);

    session.Close();
    QCOMPARE(m_servers.messageCount(user), 1);

    QCOMPARE(session.Open(local(m_servers.pop3Port()), 110, user, m_servers.pop3Password()), 0);
    const auto left = session.FetchMessage(1, dir.filePath("left.eml"));
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
    QVERIFY(!session.Busy());
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
    QTemporaryDir dir;
    const auto mail = session.FetchMessage(1, dir.filePath("tls.eml"));
    session.Close();
    QVERIFY(mail.has_value());
    QCOMPARE(readFile(dir.filePath("tls.eml")), readFile(dataFile("plain_ascii.eml")));
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
        busyDuringCall = session.Busy();
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
    QVERIFY(!session.Busy());
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
    QVERIFY(!session.FetchMessage(1, QStringLiteral("never-written.eml")).has_value());
    QVERIFY(!QFile::exists(QStringLiteral("never-written.eml")));
    QVERIFY(session.DeleteMessage(1) != 0);
    QCOMPARE(errors.count(), 2);
    QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(MailError::NotConnected));
    QCOMPARE(session.State(), Pop3Session::kStateClosed);
}

// QCoreApplication::exit() ends every running event loop, the call's own
// included: the call must still wait for its worker, which writes into it.
void TestPop3Session::callOutlivesAQuitOfTheEventLoops()
{
    SilentServer silent;
    VmimePop3Session session;
    session.setTimeout(500);
    QTimer::singleShot(50, &session, [] { QCoreApplication::exit(0); });
    QCOMPARE(session.Open(local(silent.port()), 110, QStringLiteral("u"), QStringLiteral("p")),
             int(MailError::Timeout));
    QVERIFY(!session.Busy());
}

void TestPop3Session::mailBeyondTheReaderLimitsIsSetAside_data()
{
    QTest::addColumn<QByteArray>("mail");
    QTest::addColumn<QString>("sender");

    // 4,000 levels overflowed the stack of the window's thread.
    QTest::newRow("4,000 nested multiparts") << nestedMail(4000) << "mallory@example.org";
    QTest::newRow("just over the nesting limit")
        << nestedMail(mail_limits::kProfondeurMime + 1) << "mallory@example.org";
    QTest::newRow("too many header fields")
        << manyHeaders(mail_limits::kNombreEntetes + 1, 10) << QString();
    QTest::newRow("header block too large")
        << manyHeaders(10, int(mail_limits::kTailleEntetes / 10)) << QString();
}

// A mail the reader refuses comes back marked, archived whole, and does not
// hold up the command behind it.
void TestPop3Session::mailBeyondTheReaderLimitsIsSetAside()
{
    QFETCH(QByteArray, mail);
    QFETCH(QString, sender);

    const QString user = QStringLiteral("u6");
    m_servers.clearMailbox(user);
    QVERIFY(!m_servers.deliver(user, mail).isEmpty());
    QVERIFY(!m_servers.deliverFile(user, dataFile("plain_ascii.eml")).isEmpty());

    VmimePop3Session session;
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QTemporaryDir dir;
    QCOMPARE(session.Open(local(m_servers.pop3Port()), 110, user, m_servers.pop3Password()), 0);
    const auto hostile = session.FetchMessage(1, dir.filePath("1.eml"));
    const auto command = session.FetchMessage(2, dir.filePath("2.eml"));
    session.Close();
    QCOMPARE(errors.count(), 0);

    QVERIFY(hostile.has_value());
    QVERIFY(!hostile->Unreadable.isEmpty());
    QVERIFY(hostile->Body.isEmpty());
    QCOMPARE(hostile->Sender.Address, sender);
    QCOMPARE(readFile(dir.filePath("1.eml")), mail);

    QVERIFY(command.has_value());
    QVERIFY(command->Unreadable.isEmpty());
    QVERIFY(command->Body.startsWith("Commande: run.bat;"));
}

void TestPop3Session::mailOverTheSizeLimitIsNotFetched()
{
    const QString user = QStringLiteral("u7");
    m_servers.clearMailbox(user);
    QVERIFY(!m_servers.deliver(user, manyHeaders(100, 70)).isEmpty());
    QVERIFY(!m_servers.deliverFile(user, dataFile("plain_ascii.eml")).isEmpty());

    VmimePop3Session session;
    session.SetMaxMailSize(readFile(dataFile("plain_ascii.eml")).size());
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QStringList sent;
    connect(&session, &Pop3Session::StatusChanged, this, [&](const QString &line, qint32 type) {
        if (type == 2)
            sent.append(line);
    });
    QTemporaryDir dir;
    QCOMPARE(session.Open(local(m_servers.pop3Port()), 110, user, m_servers.pop3Password()), 0);
    QVERIFY(!session.FetchMessage(1, dir.filePath("1.eml")).has_value());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(MailError::TooLarge));
    QVERIFY(!sent.contains(QStringLiteral("RETR 1")));
    QVERIFY(!QFile::exists(dir.filePath("1.eml")));

    // The session goes on with the next message.
    QCOMPARE(session.State(), Pop3Session::kStateTransaction);
    const auto next = session.FetchMessage(2, dir.filePath("2.eml"));
    session.Close();
    QVERIFY(next.has_value());
    QCOMPARE(m_servers.messageCount(user), 2);
}

void TestPop3Session::hostilePeers_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("error");

    using B = ScriptedPop3Peer::Behaviour;
    QTest::newRow("endless greeting without a line end")
        << int(B::EndlessGreeting) << "open" << int(MailError::TooLong);
    QTest::newRow("endless message") << int(B::EndlessRetr) << "fetch" << int(MailError::TooLarge);
    QTest::newRow("stall at RETR") << int(B::StallAtRetr) << "fetch" << int(MailError::Timeout);
    QTest::newRow("stall at QUIT") << int(B::StallAtQuit) << "close" << int(MailError::Timeout);
}

// Floods end the session with bounded memory; stalls end with the timeout;
// and the caller's event loop turns all along.
void TestPop3Session::hostilePeers()
{
    QFETCH(int, behaviour);
    QFETCH(QString, call);
    QFETCH(int, error);

    ScriptedPop3Peer peer(static_cast<ScriptedPop3Peer::Behaviour>(behaviour));
    VmimePop3Session session;
    session.setTimeout(1000);
    // The listing says the message is small; the flood says otherwise.
    session.SetMaxMailSize(1024 * 1024);
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("1.eml"));

    EventLoopProbe probe;
    const qint32 opened =
        session.Open(local(peer.port()), 110, QStringLiteral("u"), QStringLiteral("p"));
    if (call == QLatin1String("open")) {
        QCOMPARE(opened, error);
    } else {
        QCOMPARE(opened, 0);
        if (call == QLatin1String("fetch"))
            QVERIFY(!session.FetchMessage(1, archive).has_value());
        else
            session.Close();
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(error));
    }
    const qint64 longest = probe.longestMs();
    QVERIFY2(longest < 50, qPrintable(QString::number(longest)));
    QVERIFY(!errors.last().at(1).toString().isEmpty());
    QCOMPARE(session.State(), Pop3Session::kStateClosed);
    QVERIFY(!QFile::exists(archive));
    QVERIFY(QDir(dir.path()).isEmpty());
    if (call == QLatin1String("close"))
        QVERIFY(errors.first().at(1).toString().contains("suppressions"));
    // What the peer could push before the session gave up stays within the
    // bound, whatever the socket buffers held.
    QVERIFY2(peer.bytesSent() < 3 * mail_limits::kTailleReponse,
             qPrintable(QString::number(peer.bytesSent())));
    QTRY_VERIFY(peer.clientGone());
}

// "Fin" during a call: the call ends at once, then the session, whose QUIT
// still reaches the server so that its deletions are made.
void TestPop3Session::cancelEndsTheCallThenTheSession()
{
    ScriptedPop3Peer peer(ScriptedPop3Peer::Behaviour::StallAtRetr);
    VmimePop3Session session;
    session.setTimeout(30000);
    QSignalSpy errors(&session, &Pop3Session::ErrorPOP3);
    QSignalSpy closed(&session, &Pop3Session::Closed);
    QTemporaryDir dir;
    QCOMPARE(session.Open(local(peer.port()), 110, QStringLiteral("u"), QStringLiteral("p")), 0);
    QCOMPARE(session.DeleteMessage(1), 0);

    QTimer::singleShot(100, &session, [&] { session.Cancel(); });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!session.FetchMessage(2, dir.filePath("2.eml")).has_value());
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(MailError::Cancelled));
    QCOMPARE(closed.count(), 1);
    QCOMPARE(session.State(), Pop3Session::kStateClosed);
    QVERIFY(QDir(dir.path()).isEmpty());
    QTRY_VERIFY(peer.commands().contains(QStringLiteral("QUIT")));
    QVERIFY(peer.commands().indexOf(QStringLiteral("DELE 1")) <
            peer.commands().indexOf(QStringLiteral("QUIT")));
}

QTEST_MAIN(TestPop3Session)
#include "tst_pop3_session.moc"
