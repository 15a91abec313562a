// The outbox: replies stored before they are sent, kept across an SMTP outage
// and a restart, sent oldest first, abandoned after a week.
#include "server/mail/boite_envoi.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "tests/support/fake_mail.h"
#include "tests/support/mail_servers.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

ComposedMail mail(const QString &to, const QByteArray &body = "x")
{
    return ComposedMail{QStringLiteral("tramelon@example.net"), to,
                        "To: " + to.toUtf8() + "\r\nSubject: s\r\n\r\n" + body + "\r\n"};
}

const QDateTime kT0(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC);
const QDateTime kNow = QDateTime::currentDateTimeUtc();

} // namespace

class TestOutbox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storesOwnerOnlyAndReadsBackOldestFirst();
    void sendRound_data();
    void sendRound();
    void unreadableFileIsSetAside();
    void survivesOutageAndRestart();
    void refusalByReplyCode_data();
    void refusalByReplyCode();
};

void TestOutbox::storesOwnerOnlyAndReadsBackOldestFirst()
{
    QTemporaryDir dir;
    BoiteEnvoi outbox(dir.filePath(QStringLiteral("outbox")));
    // Added out of order in time: the listing follows the composition time.
    QVERIFY(outbox.ajoute(2, mail(QStringLiteral("b@example.org"), "two"), kT0.addSecs(60)));
    QVERIFY(outbox.ajoute(1, mail(QStringLiteral("\"a;b\"@example.org"), "one\r\n."), kT0));
    QVERIFY(outbox.ajoute(3, mail(QStringLiteral("c@example.org")), kT0.addSecs(61)));
    QVERIFY(!outbox.ajoute(4, mail(QStringLiteral("c@example.org\r\nRCPT TO:<d@x.org>")), kT0));

    const QList<BoiteEnvoi::Entree> entries = outbox.en_attente();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries.at(0).numero, qint16(1));
    QCOMPARE(entries.at(1).numero, qint16(2));
    QCOMPARE(entries.at(2).numero, qint16(3));
    QCOMPARE(entries.at(0).composee, kT0);
    QCOMPARE(entries.at(0).mail.rcptto, QStringLiteral("\"a;b\"@example.org"));
    QCOMPARE(entries.at(0).mail.bytes,
             mail(QStringLiteral("\"a;b\"@example.org"), "one\r\n.").bytes);

    // The "user" flags repeat the owner's for the user running the test.
    const QFileDevice::Permissions user =
        QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    for (const BoiteEnvoi::Entree &entry : entries)
        QCOMPARE(QFile::permissions(entry.fichier) & ~user, ownerOnly);
    // Nothing half-written stays beside them.
    QCOMPARE(QDir(outbox.dossier()).entryList(QDir::Files).size(), 3);
}

void TestOutbox::sendRound_data()
{
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<int>("ageDays");
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("left");
    QTest::addColumn<QString>("line");

    QTest::newRow("accepted: removed") << false << 0 << 2 << 0 << "";
    // The first failure without a session ends the round: the next one would wait as long.
    QTest::newRow("server down: all kept") << true << 0 << 0 << 2 << "gardée pour un nouvel essai";
    QTest::newRow("six days: still tried") << true << 6 << 0 << 2 << "gardée";
    QTest::newRow("seven days: abandoned") << true << 7 << 0 << 0 << "abandonnée";
}

void TestOutbox::sendRound()
{
    QFETCH(bool, refuse);
    QFETCH(int, ageDays);
    QFETCH(int, sent);
    QFETCH(int, left);
    QFETCH(QString, line);

    QTemporaryDir dir;
    BoiteEnvoi outbox(dir.filePath(QStringLiteral("outbox")));
    QVERIFY(outbox.ajoute(1, mail(QStringLiteral("a@example.org")), kT0));
    QVERIFY(outbox.ajoute(2, mail(QStringLiteral("b@example.org")), kT0.addSecs(1)));
    FakeSmtpSender smtp;
    smtp.refuse = refuse;

    const BoiteEnvoi::Tour round = outbox.envoie(smtp, kT0.addDays(ageDays).addSecs(5));
    QCOMPARE(round.envoyees, sent);
    QCOMPARE(round.restantes, left);
    QCOMPARE(outbox.en_attente().size(), left);
    if (!refuse) {
        QCOMPARE(smtp.composed.size(), 2);
        QCOMPARE(smtp.composed.at(0).rcptto, QStringLiteral("a@example.org"));
    }
    if (!line.isEmpty())
        QVERIFY2(round.lignes.join(u'\n').contains(line), qPrintable(round.lignes.join(u'\n')));
}

void TestOutbox::unreadableFileIsSetAside()
{
    QTemporaryDir dir;
    BoiteEnvoi outbox(dir.filePath(QStringLiteral("outbox")));
    QVERIFY(outbox.ajoute(1, mail(QStringLiteral("a@example.org")), kT0));
    QFile bad(dir.filePath(QStringLiteral("outbox/00000000-truncated.reply")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("TRAMELON-OUTBOX 1\nnumero: 9\n");
    bad.close();

    QCOMPARE(outbox.en_attente().size(), 1);
    QVERIFY(outbox.erreur().contains(QStringLiteral("illisible")));
    QVERIFY(QFile::exists(bad.fileName() + QStringLiteral(".illisible")));
    QCOMPARE(outbox.en_attente().size(), 1);
    QVERIFY(outbox.erreur().isEmpty());
}

// Real sender, real server: the reply outlives a server that is down and a
// restart of the program, then goes out exactly once.
void TestOutbox::survivesOutageAndRestart()
{
    const MailServers servers;
    QVERIFY2(servers.isValid(), qPrintable(servers.error()));
    const QString recipient = QStringLiteral("outbox-restart@example.org");
    servers.clearReceived(recipient);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("outbox"));
    {
        BoiteEnvoi outbox(folder);
        QVERIFY(outbox.ajoute(5, mail(recipient, "first"), kNow));
        VmimeSmtpSender down;
        down.properties.server = QStringLiteral("127.0.0.1:%1").arg(MailServers::unusedPort());
        const BoiteEnvoi::Tour round = outbox.envoie(down, kNow);
        QCOMPARE(round.envoyees, 0);
        QCOMPARE(round.restantes, 1);
    }
    BoiteEnvoi restarted(folder);
    VmimeSmtpSender up;
    up.properties.server = QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort());
    const BoiteEnvoi::Tour round = restarted.envoie(up, kNow);
    QCOMPARE(round.envoyees, 1);
    QCOMPARE(restarted.en_attente().size(), 0);
    const QList<MailServers::ReceivedMail> received = servers.receivedMails(recipient);
    QCOMPARE(received.size(), 1);
    QVERIFY2(received.first().raw.endsWith("\r\n\r\nfirst\r\n"),
             received.first().raw.right(20).toHex().constData());
    QCOMPARE(restarted.envoie(up, kNow).envoyees, 0);
}

void TestOutbox::refusalByReplyCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("kept");
    QTest::newRow("550: refused for good, said once, never sent again") << 550 << false;
    QTest::newRow("421: a passing refusal, tried again next round") << 421 << true;
}

void TestOutbox::refusalByReplyCode()
{
    QFETCH(int, code);
    QFETCH(bool, kept);
    const MailServers servers;
    QVERIFY2(servers.isValid(), qPrintable(servers.error()));
    QTemporaryDir dir;
    BoiteEnvoi outbox(dir.filePath(QStringLiteral("outbox")));
    const QString recipient = QStringLiteral("refus-%1@example.org").arg(code);
    QVERIFY(outbox.ajoute(1, mail(recipient), kNow));
    VmimeSmtpSender smtp;
    smtp.properties.server = QStringLiteral("127.0.0.1:%1").arg(servers.smtpPort());
    QSignalSpy sessions(&smtp, &SmtpSender::ConnectionMade);

    QStringList lines;
    for (int round = 0; round < 2; ++round) {
        const BoiteEnvoi::Tour result = outbox.envoie(smtp, kNow);
        QCOMPARE(result.envoyees, 0);
        QCOMPARE(result.restantes, kept ? 1 : 0);
        lines += result.lignes;
        if (round == 0)
            QCOMPARE(smtp.replycode, code);
    }
    QCOMPARE(sessions.count(), kept ? 2 : 1);
    QCOMPARE(outbox.en_attente().size(), kept ? 1 : 0);
    QCOMPARE(lines.filter(QStringLiteral("abandonnée")).size(), kept ? 0 : 1);
    QCOMPARE(lines.filter(QStringLiteral("nouvel essai")).size(), kept ? 2 : 0);
}

QTEST_GUILESS_MAIN(TestOutbox)
#include "tst_boite_envoi.moc"
