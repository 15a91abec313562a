// A mail whose deletion is lost (the server killed between the launch and QUIT,
// a connection cut at DELE or at QUIT) comes back: through real Dovecot and
// SMTP servers, its command runs once, it is answered once and never refused.
// A mail built to hold up the parser, or during whose reading the server was
// killed, is set aside unread, answered once, and the box moves on.
#include "common/command_mail.h"
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/mail/sequenceur.h"
#include "server/mail/traitement.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"
#include "tests/support/child_processes.h"
#include "tests/support/cutting_proxy.h"
#include "tests/support/hostile_mails.h"
#include "tests/support/suite_avec_lecteur.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

namespace {
const QString kUser = QStringLiteral("u9");
const QString kKey = QStringLiteral("RRRRRRRRRRR1");
const QString kMallory = QStringLiteral("mallory@example.org");

// The child reading a mail: the child of that process's mail reader that
// holds an answer's pipe (the one in reserve holds a socket), 0 when none.
qint64 readerOf(qint64 parent)
{
    for (const pid_t reader : childProcesses(pid_t(parent)))
        for (const pid_t child : childProcesses(reader))
            if (openDescriptors(child).value(3).startsWith(QStringLiteral("pipe:")))
                return child;
    return 0;
}

bool running(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
}
} // namespace

class TestReplay : public SuiteAvecLecteur
{
    Q_OBJECT

private:
    MailServers servers;
    std::unique_ptr<ServerFolder> folder;
    QString sender;
    int serial = 0;

    void deliverCommand()
    {
        // run.bat appends, so that a second run shows.
        folder->write("actions/run.bat", "echo launched >> marker\n");
        const QString body = compose_message_commande("run.bat", kKey);
        QVERIFY(
            !servers.deliver(kUser, ServerFolder::commandMail(sender, "Actions", body)).isEmpty());
    }
    // Short timeouts: the servers answer at once or not at all.
    static std::unique_ptr<VmimePop3Session> sessionRapide()
    {
        auto session = std::make_unique<VmimePop3Session>();
        session->setTimeout(5000);
        return session;
    }
    Serveur serveurSansTimer(std::unique_ptr<VmimePop3Session> session) const
    {
        auto smtp = std::make_unique<VmimeSmtpSender>();
        smtp->setTimeout(5000);
        return Serveur(folder->path(), std::move(session), std::move(smtp), [](int) {});
    }
    static void unCycle(Serveur &serveur)
    {
        for (int i = 0; i < 60; ++i)
            serveur.sequenceur().tick();
    }
    int launches() const { return int(folder->read("actions/marker").count("launched")); }
    int refusals(const QString &to = {}) const
    {
        int n = 0;
        for (const MailServers::ReceivedMail &reply :
             servers.receivedMails(to.isEmpty() ? sender : to))
            n += reply.raw.contains("comprise");
        return n;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(servers.isValid(), qPrintable(servers.error())); }
    void init()
    {
        platform::installer_gestionnaire_messages([](const QString &) {});
        servers.clearMailbox(kUser);
        sender = QStringLiteral("replay%1@example.org").arg(++serial);
        servers.clearReceived(sender);
        servers.clearReceived(kMallory);
        folder = std::make_unique<ServerFolder>(servers, kUser, QStringList{kKey});
    }
    void cleanup()
    {
        folder.reset();
        platform::installer_gestionnaire_messages({});
    }

    void killedBetweenLaunchAndQuitThenRestarted()
    {
        deliverCommand();
        QProcess tramelon;
        const auto run = [&] {
            tramelon.start(TRAMELON_BIN, {"--headless", "--folder", folder->path()});
            QVERIFY(tramelon.waitForStarted());
        };
        run();
        // The launch comes at tick 3 and QUIT at tick 6: killed in between.
        QTRY_COMPARE_WITH_TIMEOUT(launches(), 1, 10000);
        ::kill(pid_t(tramelon.processId()), SIGKILL);
        QVERIFY(tramelon.waitForFinished(5000));
        QCOMPARE(servers.messageCount(kUser), 1);

        run();
        QTRY_COMPARE_WITH_TIMEOUT(servers.messageCount(kUser), 0, 30000);
        ::kill(pid_t(tramelon.processId()), SIGTERM);
        QVERIFY(tramelon.waitForFinished(5000));
        // Killed once its judgement was over, the mail is only deleted; killed
        // before, it is answered without being launched again. Never twice.
        const QString log = QString::fromUtf8(tramelon.readAllStandardError());
        QVERIFY2(log.contains("message 1 déjà traité : supprimé sans être rejoué") ||
                     log.contains("message 1 repris après un arrêt du serveur"),
                 qPrintable(log));
        QCOMPARE(launches(), 1);
        QCOMPARE(refusals(), 0);
        QCOMPARE(folder->read("clefs.dat"), QByteArray());
    }

    void hostileMailThenCommand_data()
    {
        QTest::addColumn<QByteArray>("hostile");
        QTest::newRow("multipart, then text/plain, 20,000 deep")
            << hostile_mails::nested(20000, {}, true);
        QTest::newRow("a blank after the dashes, 20,000 deep") << hostile_mails::nested(20000, " ");
        QTest::newRow("within the limits, slow to parse") << hostile_mails::unclosedSiblings(2400);
    }
    // The mail is refused unread and the command mail behind it runs in the next cycle.
    void hostileMailThenCommand()
    {
        QFETCH(QByteArray, hostile);
        QVERIFY(!servers.deliver(kUser, hostile).isEmpty());
        deliverCommand();
        auto session = sessionRapide();
        session->setLecture({2, 10000});
        Serveur serveur = serveurSansTimer(std::move(session));
        QVERIFY(serveur.demarrer());
        serveur.T_sequenceur().stop(); // ticks come from the test

        unCycle(serveur);
        QCOMPARE(servers.messageCount(kUser), 1);
        QVERIFY(serveur.affichage().champs().Text3.contains("illisible"));
        unCycle(serveur);
        QCOMPARE(servers.messageCount(kUser), 0);
        QCOMPARE(launches(), 1);
        QTRY_COMPARE(servers.receivedMails(kMallory).size(), 1);
        QCOMPARE(refusals(kMallory), 1);
        QTRY_COMPARE(servers.receivedMails(sender).size(), 1);
        QCOMPARE(refusals(), 0);
    }

    // Killed while the reader parses a mail, the server sets that mail aside
    // after its restart: answered once, deleted, never read again.
    void killedDuringTheReadThenRestarted()
    {
        QVERIFY(!servers.deliver(kUser, hostile_mails::unclosedSiblings(2400)).isEmpty());
        QProcess tramelon;
        const auto run = [&] {
            tramelon.start(TRAMELON_BIN, {"--headless", "--folder", folder->path()});
            QVERIFY(tramelon.waitForStarted());
        };
        run();
        qint64 reader = 0;
        QTRY_VERIFY_WITH_TIMEOUT((reader = readerOf(tramelon.processId())) != 0, 15000);
        QVERIFY(folder->read("messages_juges.dat").contains("\ten-lecture\n"));
        ::kill(pid_t(tramelon.processId()), SIGKILL);
        QVERIFY(tramelon.waitForFinished(5000));
        QTRY_VERIFY(!running(reader)); // it dies with the server
        QCOMPARE(servers.messageCount(kUser), 1);
        QCOMPARE(servers.receivedMails(kMallory).size(), 0);

        run();
        QTRY_COMPARE_WITH_TIMEOUT(servers.messageCount(kUser), 0, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(servers.receivedMails(kMallory).size(), 1, 30000);
        ::kill(pid_t(tramelon.processId()), SIGTERM);
        QVERIFY(tramelon.waitForFinished(5000));
        const QString log = QString::fromUtf8(tramelon.readAllStandardError());
        QVERIFY2(log.contains("n'a pas abouti avant un arrêt du serveur"), qPrintable(log));
        QCOMPARE(refusals(kMallory), 1);
        QVERIFY(!QDir(folder->path() + "arch_messages").isEmpty());
    }

    void connectionCut_data()
    {
        QTest::addColumn<QByteArray>("cutAt");
        QTest::newRow("DELE") << QByteArray("DELE");
        QTest::newRow("QUIT") << QByteArray("QUIT");
    }
    void connectionCut()
    {
        QFETCH(QByteArray, cutAt);
        CuttingProxy proxy(servers.pop3Port(), cutAt);
        folder->write("pop3.ini",
                      folder->read("pop3.ini")
                          .replace("127.0.0.1:" + QByteArray::number(servers.pop3Port()),
                                   proxy.address().toLatin1()));
        deliverCommand();
        Serveur serveur = serveurSansTimer(sessionRapide());
        QVERIFY(serveur.demarrer());
        serveur.T_sequenceur().stop(); // ticks come from the test

        unCycle(serveur);
        QCOMPARE(proxy.cuts(), 1);
        QCOMPARE(launches(), 1);
        QCOMPARE(servers.messageCount(kUser), 1); // the deletion was lost with the connection
        unCycle(serveur);
        QCOMPARE(servers.messageCount(kUser), 0);
        QVERIFY(serveur.affichage().champs().Text3.contains("déjà traité"));
        QCOMPARE(launches(), 1);
        QTRY_COMPARE(servers.receivedMails(sender).size(), 1); // the answer of the first cycle only
        QCOMPARE(refusals(), 0);
    }
};

QTEST_GUILESS_MAIN(TestReplay)
#include "tst_replay.moc"
