// The vmime SMTP sender against real aiosmtpd servers (fixture mail_servers).
#include "server/mail/sender_address.h"
#include "server/vmime/mail_failure.h"
#include "server/vmime/mail_parser.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "tests/support/mail_servers.h"
#include "tests/support/recording_smtp_peer.h"
#include "tests/support/silent_server.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

// The notifications of one send, with the status text read in each handler.
struct Journal {
    QStringList events;

    void attach(VmimeSmtpSender &sender, QObject *context)
    {
        QObject::connect(&sender, &SmtpSender::ConnectionMade, context, [this, &sender] {
            events.append(QStringLiteral("made: ") + sender.statustext());
        });
        QObject::connect(&sender, &SmtpSender::MessageSent, context, [this, &sender] {
            events.append(QStringLiteral("sent: ") + sender.statustext());
        });
        QObject::connect(&sender, &SmtpSender::ConnectionClosed, context, [this, &sender] {
            events.append(QStringLiteral("closed: ") + sender.statustext());
        });
        QObject::connect(&sender, &SmtpSender::SMTPError, context,
                         [this](qint16 number, const QString &text) {
                             events.append(QStringLiteral("error %1: %2").arg(number).arg(text));
                         });
    }
};

// The mail as it came in DATA: what the test server stores after its two envelope lines.
QByteArray wireBytes(const QByteArray &stored)
{
    qsizetype pos = 0;
    for (int line = 0; line < 2 && pos >= 0; ++line)
        pos = stored.indexOf("\r\n", pos) + 2;
    return stored.mid(pos);
}

QString headerLine(const QByteArray &raw, const QByteArray &name)
{
    for (QByteArray line : raw.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break;
        if (line.startsWith(name + ": "))
            return QString::fromUtf8(line.mid(name.size() + 2));
    }
    return {};
}

} // namespace

class TestSmtpSender : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sendsReply();
    void wireFormat_data();
    void wireFormat();
    void authenticates_data();
    void authenticates();
    void failures_data();
    void failures();
    void internationalisedAddressNeedsSmtpUtf8();
    void envelopeIsTheSendersMailbox_data();
    void envelopeIsTheSendersMailbox();

private:
    MailServers m_servers;
};

void TestSmtpSender::initTestCase()
{
    QVERIFY2(m_servers.isValid(), qPrintable(m_servers.error()));
}

void TestSmtpSender::sendsReply()
{
    const QString recipient = QStringLiteral("alice.reply@example.org");
    m_servers.clearReceived(recipient);

    VmimeSmtpSender sender;
    Journal journal;
    journal.attach(sender, this);
    sender.properties.server = QStringLiteral("127.0.0.1:%1").arg(m_servers.smtpPort());
    sender.properties.mailfrom = QStringLiteral("<tramelon@example.net>");
    sender.properties.sendto = recipient;
    sender.properties.messagesubject = QStringLiteral("Re:Actions (reponse n  3 )");
    const QString text = QString::fromUtf8("Commande acceptée : run.bat\r\n<b>& fin</b> été €");
    sender.properties.messagetext = text;
    sender.properties.messagehtml = text;
    sender.sendmessage();

    QVERIFY(!sender.busy());
    QCOMPARE(journal.events.size(), 3);
    QVERIFY2(journal.events[0].startsWith(QString::fromUtf8("made: Connecté")),
             qPrintable(journal.events[0]));
    QCOMPARE(journal.events[1], QStringLiteral("sent: Message envoyé à ") + recipient);
    QCOMPARE(journal.events[2], QStringLiteral("closed: Connexion fermée"));

    const QList<MailServers::ReceivedMail> mails = m_servers.receivedMails(recipient);
    QCOMPARE(mails.size(), 1);
    const MailServers::ReceivedMail &mail = mails.first();
    QCOMPARE(mail.mailFrom, QStringLiteral("tramelon@example.net"));
    QCOMPARE(mail.rcptTo, QStringList{recipient});
    QCOMPARE(headerLine(mail.raw, "Auto-Submitted"), QStringLiteral("auto-replied"));
    QCOMPARE(headerLine(mail.raw, "From"), QStringLiteral("tramelon@example.net"));
    QCOMPARE(headerLine(mail.raw, "To"), recipient);
    QVERIFY(
        headerLine(mail.raw, "Content-Type").startsWith(QLatin1String("multipart/alternative")));

    const Pop3Message parsed = parse_mail(mail.raw);
    QCOMPARE(parsed.Subject, QStringLiteral("Re:Actions (reponse n  3 )"));
    QCOMPARE(parsed.Body.trimmed(), text);
    const QString html = mail_html_part(mail.raw);
    QVERIFY2(html.contains(QString::fromUtf8("Commande acceptée : run.bat<br>")), qPrintable(html));
    QVERIFY2(html.contains(QString::fromUtf8("&lt;b&gt;&amp; fin&lt;/b&gt; été €")),
             qPrintable(html));
    QVERIFY(!html.contains(QLatin1String("<b>")));
    // Both parts declare UTF-8.
    QCOMPARE(mail.raw.count("charset=utf-8") + mail.raw.count("charset=\"utf-8\"") +
                 mail.raw.count("charset=UTF-8"),
             2);
}

void TestSmtpSender::wireFormat_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("sendto");   // as the sender's From gave it
    QTest::addColumn<QString>("envelope"); // the one RCPT TO expected

    QTest::newRow("ascii") << "Re:Actions (reponse n  1 )"
                           << "ascii@example.org"
                           << "ascii@example.org";
    QTest::newRow("non-ascii subject")
        << QString::fromUtf8("Re:Réunion décalée (reponse n  2 )") << "accent@example.org"
        << "accent@example.org";
    QTest::newRow("long subject, blanks kept")
        << QStringLiteral("Re:") + QStringLiteral("mot  ").repeated(60) + QString::fromUtf8("é")
        << "long@example.org"
        << "long@example.org";
    QTest::newRow("looks like an encoded word") << "Re:=?utf-8?q?x?= (reponse n  3 )"
                                                << "word@example.org"
                                                << "word@example.org";
    QTest::newRow("quoted local part") << "Re:x"
                                       << R"("v1@a.io;v2@b.io;v3@c.io;x"@example.org)"
                                       << R"("v1@a.io;v2@b.io;v3@c.io;x"@example.org)";
    // The server offers SMTPUTF8: the local part goes as it is, the domain as ASCII.
    QTest::newRow("internationalised address") << "Re:x" << QString::fromUtf8("jürgen@exämple.de")
                                               << QString::fromUtf8("jürgen@xn--exmple-cua.de");
}

void TestSmtpSender::wireFormat()
{
    QFETCH(QString, subject);
    QFETCH(QString, sendto);
    QFETCH(QString, envelope);

    m_servers.clearReceived(envelope);
    VmimeSmtpSender sender;
    QSignalSpy sent(&sender, &SmtpSender::MessageSent);
    sender.properties.server = QStringLiteral("127.0.0.1:%1").arg(m_servers.smtpPort());
    sender.properties.mailfrom = QStringLiteral("<tramelon@reply.example.net>");
    sender.properties.sendto = sendto;
    sender.properties.messagesubject = subject;
    sender.properties.messagetext = QString::fromUtf8("ligne 1\nligne 2\r\n.\n") +
                                    QStringLiteral("x").repeated(2000) + QString::fromUtf8(" é\n");
    sender.properties.messagehtml = sender.properties.messagetext;
    sender.properties.inreplyto = "<cmd-1@client.example.org>";
    sender.properties.references = {"<root@client.example.org>"};
    QSignalSpy errors(&sender, &SmtpSender::SMTPError);
    sender.sendmessage();
    QVERIFY2(errors.isEmpty(), qPrintable(errors.value(0).value(1).toString()));
    QCOMPARE(sent.count(), 1);

    const QList<MailServers::ReceivedMail> mails = m_servers.receivedMails();
    QList<MailServers::ReceivedMail> mine;
    for (const MailServers::ReceivedMail &mail : mails) {
        if (mail.rcptTo.contains(envelope))
            mine.append(mail);
    }
    QCOMPARE(mine.size(), 1);
    QCOMPARE(mine.first().rcptTo, QStringList{envelope});
    const QByteArray wire = wireBytes(mine.first().raw);

    for (qsizetype i = 0; i < wire.size(); ++i) {
        if (wire.at(i) == '\n')
            QVERIFY2(i > 0 && wire.at(i - 1) == '\r', qPrintable(QString::number(i)));
        if (wire.at(i) == '\r')
            QVERIFY2(i + 1 < wire.size() && wire.at(i + 1) == '\n', qPrintable(QString::number(i)));
    }
    for (const QByteArray &line : wire.split('\n'))
        QVERIFY(line.size() <= 999); // 998 and the CR
    // Only an address that has no ASCII form may bring 8-bit text into the header.
    QByteArray head = wire.left(wire.indexOf("\r\n\r\n"));
    head.replace(envelope.toUtf8(), "");
    for (char c : std::as_const(head))
        QVERIFY2(static_cast<unsigned char>(c) < 0x80, "8-bit header");

    QVERIFY(QRegularExpression(QStringLiteral("^<[^@<> ]+@reply\\.example\\.net>$"))
                .match(headerLine(wire, "Message-ID"))
                .hasMatch());
    QVERIFY(QDateTime::fromString(headerLine(wire, "Date"), Qt::RFC2822Date).isValid());
    QCOMPARE(headerLine(wire, "MIME-Version"), QStringLiteral("1.0"));
    QCOMPARE(headerLine(wire, "In-Reply-To"), QStringLiteral("<cmd-1@client.example.org>"));
    QCOMPARE(headerLine(wire, "References"),
             QStringLiteral("<root@client.example.org> <cmd-1@client.example.org>"));
    QCOMPARE(headerLine(wire, "To"), envelope);
    QCOMPARE(parse_mail(wire).Subject, subject);
    const QString body = parse_mail(wire).Body;
    QVERIFY(body.startsWith(QStringLiteral("ligne 1\r\nligne 2\r\n.\r\n") +
                            QStringLiteral("x").repeated(2000)));
}

void TestSmtpSender::authenticates_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("offered"); // the server offers AUTH

    QTest::newRow("right credentials") << "smtpuser"
                                       << "smtppass" << 0 << true;
    QTest::newRow("wrong password") << "smtpuser"
                                    << "wrong" << int(MailError::AuthenticationFailed) << true;
    QTest::newRow("no credentials") << ""
                                    << "" << int(MailError::ServerRefused) << true;
    // Never a silent send without the authentication the settings ask for.
    QTest::newRow("auth not offered")
        << "smtpuser"
        << "smtppass" << int(MailError::AuthenticationUnavailable) << false;
}

void TestSmtpSender::authenticates()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, error);
    QFETCH(bool, offered);

    const QString recipient = QStringLiteral("auth-%1@example.org")
                                  .arg(QTest::currentDataTag())
                                  .replace(QLatin1Char(' '), QLatin1Char('-'));
    m_servers.clearReceived(recipient);
    VmimeSmtpSender sender;
    QSignalSpy sent(&sender, &SmtpSender::MessageSent);
    QSignalSpy errors(&sender, &SmtpSender::SMTPError);
    sender.properties.server = QStringLiteral("127.0.0.1:%1")
                                   .arg(offered ? m_servers.smtpAuthPort() : m_servers.smtpPort());
    sender.properties.username = user;
    sender.properties.password = password;
    sender.properties.mailfrom = QStringLiteral("<tramelon@example.net>");
    sender.properties.sendto = recipient;
    sender.properties.messagesubject = QStringLiteral("Re:x");
    sender.properties.messagetext = QStringLiteral("ok");
    sender.sendmessage();

    if (error == 0) {
        QCOMPARE(errors.count(), 0);
        QCOMPARE(sent.count(), 1);
        QCOMPARE(m_servers.receivedMails(recipient).size(), 1);
        return;
    }
    QCOMPARE(sent.count(), 0);
    QCOMPARE(errors.count(), 1);
    if (!offered)
        QVERIFY2(errors.first().at(1).toString().contains(QLatin1String("AUTH")),
                 qPrintable(errors.first().at(1).toString()));
    QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(error));
    QCOMPARE(m_servers.receivedMails(recipient).size(), 0);
}

void TestSmtpSender::failures_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("sendto");
    QTest::addColumn<int>("error");

    const MailServers servers;
    QTest::newRow("closed port") << QStringLiteral("127.0.0.1:%1").arg(MailServers::unusedPort())
                                 << "x@example.org" << int(MailError::ConnectionRefused);
    QTest::newRow("starttls required, not offered")
        << QStringLiteral("smtp://127.0.0.1:%1").arg(servers.smtpPort()) << "x@example.org"
        << int(MailError::StartTlsUnavailable);
    QTest::newRow("tls on a plain server")
        << QStringLiteral("smtps://127.0.0.1:%1").arg(servers.smtpPort()) << "x@example.org"
        << int(MailError::TlsFailure);
    QTest::newRow("bad setting") << "smtp://"
                                 << "x@example.org" << int(MailError::BadAddress);
    QTest::newRow("no recipient") << QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort()) << ""
                                  << int(MailError::BadAddress);
    QTest::newRow("silent server") << "silent"
                                   << "x@example.org" << int(MailError::Timeout);
}

void TestSmtpSender::failures()
{
    QFETCH(QString, server);
    QFETCH(QString, sendto);
    QFETCH(int, error);

    SilentServer silent;
    VmimeSmtpSender sender;
    sender.setTimeout(1500);
    QSignalSpy made(&sender, &SmtpSender::ConnectionMade);
    QSignalSpy sent(&sender, &SmtpSender::MessageSent);
    QSignalSpy errors(&sender, &SmtpSender::SMTPError);
    sender.properties.server = server == QLatin1String("silent")
                                   ? QStringLiteral("127.0.0.1:%1").arg(silent.port())
                                   : server;
    sender.properties.mailfrom = QStringLiteral("<tramelon@example.net>");
    sender.properties.sendto = sendto;
    sender.properties.messagetext = QStringLiteral("x");

    QElapsedTimer clock;
    clock.start();
    sender.sendmessage();
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(made.count(), 0);
    QCOMPARE(sent.count(), 0);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).value<qint16>(), static_cast<qint16>(error));
    QCOMPARE(sender.statustext(), errors.first().at(1).toString());
}

// The AUTH test server offers no SMTPUTF8: the reply is refused before MAIL FROM.
void TestSmtpSender::internationalisedAddressNeedsSmtpUtf8()
{
    const QString recipient = QString::fromUtf8("jürgen@example.de");
    m_servers.clearReceived(recipient);
    VmimeSmtpSender sender;
    QSignalSpy sent(&sender, &SmtpSender::MessageSent);
    QSignalSpy errors(&sender, &SmtpSender::SMTPError);
    sender.properties.server = QStringLiteral("127.0.0.1:%1").arg(m_servers.smtpAuthPort());
    sender.properties.username = QStringLiteral("smtpuser");
    sender.properties.password = QStringLiteral("smtppass");
    QVERIFY(!sender.sendcomposed(ComposedMail{QStringLiteral("tramelon@example.net"), recipient,
                                              "Subject: x\r\n\r\nx\r\n"}));

    QCOMPARE(sent.count(), 0);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).value<qint16>(), qint16(MailError::Utf8Unavailable));
    QVERIFY(errors.first().at(1).toString().contains(recipient));
    QCOMPARE(m_servers.receivedMails(recipient).size(), 0);
}

void TestSmtpSender::envelopeIsTheSendersMailbox_data()
{
    QTest::addColumn<QByteArray>("from");     // the command mail's From, as received
    QTest::addColumn<bool>("smtpUtf8");       // the relay offers SMTPUTF8
    QTest::addColumn<QByteArray>("envelope"); // what RCPT TO must carry, byte for byte

    const QByteArray listLike = R"("v1@a.io;v2@b.io"@example.org)";
    const QList<std::pair<QByteArray, QByteArray>> rows = {
        {"alice@example.org", "alice@example.org"},
        {listLike, listLike},
        {"Liste <" + listLike + ">", listLike},
        {R"("john smith"@example.org)", R"("john smith"@example.org)"},
        {R"("a\"b\\c"@example.org)", R"("a\"b\\c"@example.org)"},
        {R"("bob"@example.org)", "bob@example.org"}, // needless quotes: the same mailbox
    };
    for (bool utf8 : {false, true}) {
        for (const auto &[from, envelope] : rows)
            QTest::addRow("%s%s", from.constData(), utf8 ? ", SMTPUTF8" : "")
                << from << utf8 << envelope;
    }
    QTest::newRow("8-bit") << QByteArray(R"("jür gen"@exämple.de)") << true
                           << QByteArray(R"("jür gen"@xn--exmple-cua.de)");
}

// The recipient must name the sender's own mailbox, quoted once where needed.
void TestSmtpSender::envelopeIsTheSendersMailbox()
{
    QFETCH(QByteArray, from);
    QFETCH(bool, smtpUtf8);
    QFETCH(QByteArray, envelope);

    const SenderAddress sender = sender_address(from);
    QVERIFY2(sender.isValid(), qPrintable(sender.raison));
    RecordingSmtpPeer relay(smtpUtf8);
    VmimeSmtpSender smtp;
    QSignalSpy errors(&smtp, &SmtpSender::SMTPError);
    smtp.properties.server = QStringLiteral("127.0.0.1:%1").arg(relay.port());
    QVERIFY(smtp.sendcomposed(ComposedMail{QStringLiteral("tramelon@example.net"), sender.address,
                                           "Subject: x\r\n\r\nx\r\n"}));
    QVERIFY2(errors.isEmpty(), qPrintable(errors.value(0).value(1).toString()));
    QCOMPARE(relay.command("RCPT"), "RCPT TO:<" + envelope + ">\r\n");
}

QTEST_MAIN(TestSmtpSender)
#include "tst_smtp_sender.moc"
