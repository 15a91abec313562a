// The whole server against real Dovecot and SMTP servers, driven tick by tick.
#include "common/command_mail.h"
#include "platform/message_box.h"
#include "server/core/serveur.h"
#include "server/mail/sequenceur.h"
#include "server/mail/traitement.h"
#include "server/vmime/mail_failure.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server_folder.h"
#include "tests/support/scripted_pop3_peer.h"
#include "tests/support/suite_avec_lecteur.h"

#include <QDate>
#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {
const QString kUser = QStringLiteral("u6");
const QString kKey1 = QStringLiteral("AAAAAAAAAAA1");
const QString kKey2 = QStringLiteral("BBBBBBBBBBB2");
} // namespace

// A POP3 server that lists one message and hangs up in the middle of sending it.
class DroppingPop3 : public QTcpServer
{
public:
    DroppingPop3()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                ++connections;
                s->write("+OK ready\r\n");
                connect(s, &QTcpSocket::readyRead, s, [s] {
                    while (s->canReadLine()) {
                        const QByteArray line = s->readLine().trimmed().toUpper();
                        if (line.startsWith("RETR") || line.startsWith("TOP")) {
                            s->write("+OK\r\nSubject: Actions\r\nFrom: a@example.org\r\n");
                            s->flush();
                            s->disconnectFromHost();
                            return;
                        }
                        if (line == "LIST")
                            s->write("+OK\r\n1 120\r\n.\r\n");
                        else if (line == "UIDL")
                            s->write("+OK\r\n1 uid-1\r\n.\r\n");
                        else if (line.startsWith("LIST "))
                            s->write("+OK 1 120\r\n");
                        else if (line.startsWith("UIDL "))
                            s->write("+OK 1 uid-1\r\n");
                        else if (line == "STAT")
                            s->write("+OK 1 120\r\n");
                        else if (line == "CAPA")
                            s->write("-ERR\r\n");
                        else
                            s->write("+OK\r\n");
                    }
                });
            }
        });
    }
    int connections = 0;
};

class TestServerE2e : public SuiteAvecLecteur
{
    Q_OBJECT

private:
    MailServers servers;
    std::unique_ptr<ServerFolder> folder;
    std::unique_ptr<Serveur> serveur;
    QString sender;
    int serial = 0;

    void start(Serveur::FinProgramme fin = [](int) {})
    {
        auto session = std::make_unique<VmimePop3Session>();
        session->setTimeout(5000);
        auto smtp = std::make_unique<VmimeSmtpSender>();
        smtp->setTimeout(5000);
        serveur = std::make_unique<Serveur>(folder->path(), std::move(session), std::move(smtp),
                                            std::move(fin));
        QVERIFY(serveur->demarrer());
        serveur->T_sequenceur().stop(); // ticks come from the test
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            serveur->sequenceur().tick();
    }
    void cycle() { ticks(60); }
    void deliver(const QString &subject, const QString &body, const QByteArray &extra = {})
    {
        QVERIFY(!servers.deliver(kUser, ServerFolder::commandMail(sender, subject, body, extra))
                     .isEmpty());
    }
    QList<MailServers::ReceivedMail> replies() const { return servers.receivedMails(sender); }
    static QByteArray header(const QByteArray &raw, const QByteArray &name)
    {
        for (const QByteArray &line : raw.split('\n'))
            if (line.startsWith(name + ":"))
                return line.mid(name.size() + 1).trimmed();
        return {};
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(servers.isValid(), qPrintable(servers.error())); }

    void init()
    {
        platform::installer_gestionnaire_messages([](const QString &) {});
        servers.clearMailbox(kUser);
        sender = QStringLiteral("user%1@example.org").arg(++serial);
        servers.clearReceived(sender);
        folder = std::make_unique<ServerFolder>(servers, kUser, QStringList{kKey1, kKey2});
    }
    void cleanup()
    {
        serveur.reset();
        folder.reset();
        platform::installer_gestionnaire_messages({});
    }

    void validCommandMailRunsItsBatchFileOnce()
    {
        start();
        const QString body = compose_message_commande("run.bat", kKey1);
        const QByteArray raw = ServerFolder::commandMail(sender, "Actions", body);
        QVERIFY(!servers.deliver(kUser, raw).isEmpty());
        QVERIFY(!servers.deliver(kUser, raw).isEmpty());

        ticks(3);
        QTRY_VERIFY(QFile::exists(folder->marker()));
        QCOMPARE(folder->read("clefs.dat"), (kKey2 + "\r\n").toLatin1()); // struck on disk at once
        QCOMPARE(serveur->affichage().champs().Label12, QString("OK"));
        const QStringList archives = QDir(folder->path() + "arch_messages").entryList(QDir::Files);
        QCOMPARE(archives.size(), 1);
        QVERIFY(archives.at(0).startsWith("message__" + QDate::currentDate().toString("yyyyMMdd") +
                                          "_"));
        QCOMPARE(folder->read("arch_messages/" + archives.at(0)), raw);
        const QByteArray journal =
            folder->read("journal_" + QDate::currentDate().toString("yyyy-MM") + ".txt");
        QVERIFY(journal.contains(" La commande : \r\nrun.bat\r\n" +
                                 QString("a bien été lancée par l'automate\r\n").toLocal8Bit()));

        ticks(3); // step 6: the session closes and the deletion takes effect
        QCOMPARE(servers.messageCount(kUser), 1);
        ticks(2); // step 8: the answer
        QTRY_COMPARE(replies().size(), 1);
        const MailServers::ReceivedMail reply = replies().at(0);
        QCOMPARE(reply.mailFrom, QString("tramelon@example.org"));
        QCOMPARE(reply.rcptTo, QStringList{sender});
        QCOMPARE(header(reply.raw, "Subject"), QByteArray("Re:Actions (reponse n  1 )"));
        QCOMPARE(header(reply.raw, "Auto-Submitted"), QByteArray("auto-replied"));

        QFile::remove(folder->marker());
        cycle(); // the same mail again: its code is used
        QTRY_COMPARE(replies().size(), 2);
        QVERIFY(!QFile::exists(folder->marker()));
        QCOMPARE(header(replies().at(1).raw, "Subject"), QByteArray("Re:Actions (reponse n  2 )"));
        QVERIFY(replies().at(1).raw.contains("comprise par l"));
        QCOMPARE(servers.messageCount(kUser), 0);
    }

    void subjectsDecideWhatIsACommand()
    {
        start();
        deliver("actions", compose_message_commande("run.bat", kKey1));
        deliver("hello", "no command here");
        deliver(" Actions ", compose_message_commande("run.bat", kKey2));
        cycle();
        QCOMPARE(servers.messageCount(kUser), 2);                      // one message per cycle
        QVERIFY(folder->read("clefs.dat").contains(kKey1.toLatin1())); // lower case: not a command
        cycle();
        cycle();
        QTRY_COMPARE(replies().size(), 3);
        QTRY_VERIFY(QFile::exists(folder->marker()));
        QCOMPARE(folder->read("clefs.dat"), (kKey1 + "\r\n").toLatin1());
        QCOMPARE(header(replies().at(2).raw, "Subject"),
                 QByteArray("Re: Actions  (reponse n  3 )"));
        QCOMPARE(servers.messageCount(kUser), 0);
    }

    void commandOutsideTheActionsFolderIsRefused()
    {
        start();
        folder->write("outside.bat", "echo escaped > escaped\n");
        deliver("Actions", compose_message_commande("../outside.bat", kKey1));
        cycle();
        QTRY_COMPARE(replies().size(), 1);
        QVERIFY(!QFile::exists(folder->path() + "escaped"));
        QVERIFY(!QFile::exists(folder->actions() + "escaped"));
        QVERIFY(!folder->read("clefs.dat").contains(kKey1.toLatin1())); // burnt all the same
    }

    void mailThatCannotBeArchivedStays()
    {
        start();
        folder->write("arch_messages", "not a folder");
        deliver("Actions", compose_message_commande("run.bat", kKey1));
        cycle();
        QCOMPARE(servers.messageCount(kUser), 1);
        QVERIFY(replies().isEmpty());
        QVERIFY(folder->read("clefs.dat").contains(kKey1.toLatin1()));
        QFile::remove(folder->path() + "arch_messages");
        cycle(); // once the folder can be made, the mail goes through
        QTRY_VERIFY(QFile::exists(folder->marker()));
        QCOMPARE(servers.messageCount(kUser), 0);
    }

    void automaticMailGetsNoAnswer()
    {
        start();
        deliver("Out of office", "I am away", "Auto-Submitted: auto-replied\n");
        cycle();
        QCOMPARE(servers.messageCount(kUser), 0);
        QVERIFY(!serveur->affichage().champs().Text2.contains("Error"));
        // Give a wrongly sent reply the time to arrive before saying none came.
        deliver("hello", "a normal mail after it");
        cycle();
        QTRY_COMPARE(replies().size(), 1);
        QCOMPARE(header(replies().at(0).raw, "Subject"), QByteArray("Re:hello (reponse n  1 )"));
    }

    void serverDownLeavesThePollingGoing()
    {
        folder->write(
            "pop3.ini",
            folder->read("pop3.ini")
                .replace("serveur_pop=127.0.0.1:" + QByteArray::number(servers.pop3Port()),
                         "serveur_pop=127.0.0.1:" + QByteArray::number(MailServers::unusedPort())));
        start();
        cycle();
        cycle();
        QVERIFY(serveur->affichage().champs().Text3.contains("Error "));
        QCOMPARE(serveur->state().etape_sequenceur, qint16(0));
        QVERIFY(!serveur->state().reponse_a_envoyer);
    }

    // The reply waits in the outbox while the SMTP server is down, survives a
    // restart of the program, then goes out once.
    void replyOutlivesSmtpOutageAndRestart()
    {
        const QByteArray smtpUp =
            "serveur_smtp=127.0.0.1:" + QByteArray::number(servers.smtpPort());
        const QByteArray smtpDown =
            "serveur_smtp=127.0.0.1:" + QByteArray::number(MailServers::unusedPort());
        folder->write("pop3.ini", folder->read("pop3.ini").replace(smtpUp, smtpDown));
        start();
        deliver("hello", "x");
        cycle();
        QCOMPARE(servers.messageCount(kUser), 0);
        QVERIFY(serveur->affichage().champs().Text3.contains("gardée pour un nouvel essai"));
        QCOMPARE(QDir(folder->path() + "outbox").entryList(QDir::Files).size(), 1);

        serveur.reset();
        folder->write("pop3.ini", folder->read("pop3.ini").replace(smtpDown, smtpUp));
        start();
        ticks(8);
        QTRY_COMPARE(replies().size(), 1);
        QCOMPARE(header(replies().at(0).raw, "Subject"), QByteArray("Re:hello (reponse n  1 )"));
        QVERIFY(QDir(folder->path() + "outbox").entryList(QDir::Files).isEmpty());
        cycle();
        QCOMPARE(replies().size(), 1);
    }

    void finDuringAStalledFetchEndsTheCallThenTheProgram()
    {
        ScriptedPop3Peer peer(ScriptedPop3Peer::Behaviour::StallAtRetr);
        QList<int> fins;
        start([&](int code) { fins.append(code); });
        serveur->state().nom_serveur_pop = QStringLiteral("127.0.0.1:%1").arg(peer.port());
        ticks(2);
        // "Fin" is pressed while the fetch waits on a server that went quiet.
        QTimer::singleShot(200, serveur.get(), [this] { serveur->fin(); });
        ticks(1);
        QTRY_COMPARE(fins, QList<int>{0});
        QVERIFY2(serveur->affichage().champs().Text3.contains(
                     QStringLiteral("Error %1").arg(int(MailError::Cancelled))),
                 qPrintable(serveur->affichage().champs().Text3));
        QTRY_VERIFY(peer.commands().contains("QUIT"));
    }

    void connectionDroppedDuringFetch()
    {
        DroppingPop3 pop3;
        QVERIFY(pop3.isListening());
        folder->write(
            "pop3.ini",
            folder->read("pop3.ini")
                .replace("serveur_pop=127.0.0.1:" + QByteArray::number(servers.pop3Port()),
                         "serveur_pop=127.0.0.1:" + QByteArray::number(pop3.serverPort())));
        start();
        cycle();
        QVERIFY(serveur->affichage().champs().Text3.contains("Error "));
        QVERIFY(!serveur->state().reponse_a_envoyer);
        QVERIFY(folder->read("clefs.dat").contains(kKey1.toLatin1()));
        ticks(2);
        QCOMPARE(pop3.connections, 2); // the next cycle polls again
    }
};

QTEST_GUILESS_MAIN(TestServerE2e)
#include "tst_server_e2e.moc"
