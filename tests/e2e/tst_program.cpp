// The tramelon program itself, started on a prepared folder with nothing but its
// own timers, with its window or without any display, copied alone into its
// folder or not: a command mail waiting in the mailbox is carried out within
// ten seconds, and a termination request writes the key file back. Its mail
// reader killed at start-up is started again, said once.
#include "server_folder.h"
#include "tests/support/child_processes.h"
#include "tests/support/mail_servers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

class TestProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void processesAMailWithinTenSeconds_data()
    {
        QTest::addColumn<bool>("headless");
        QTest::addColumn<bool>("alone");
        QTest::addColumn<bool>("killReader");
        QTest::newRow("window, copied alone into its folder") << false << true << false;
        QTest::newRow("headless, --folder") << true << false << false;
        QTest::newRow("headless, copied alone, its reader killed") << true << true << true;
    }

    void processesAMailWithinTenSeconds()
    {
        QFETCH(bool, headless);
        QFETCH(bool, alone);
        QFETCH(bool, killReader);
        MailServers servers;
        QVERIFY2(servers.isValid(), qPrintable(servers.error()));
        const QString user = QStringLiteral("u8");
        const QString sender = QStringLiteral("program-user@example.org");
        servers.clearMailbox(user);
        servers.clearReceived(sender);
        ServerFolder folder(servers, user, {"PPPPPPPPPPP1", "PPPPPPPPPPP2"});
        QString program = TRAMELON_BIN;
        QStringList arguments{"--headless", "--folder", folder.path()};
        if (alone) {
            // The program alone takes its files from its own folder.
            program = folder.path() + "tramelon";
            QVERIFY(QFile::copy(TRAMELON_BIN, program));
            QFile::setPermissions(program, QFile::permissions(TRAMELON_BIN));
            arguments = headless ? QStringList{"--headless"} : QStringList{};
        }
        const QString body = "Bonjour,\r\nCommande:run.bat;\r\nCode:PPPPPPPPPPP2;\r\n";
        QVERIFY(
            !servers.deliver(user, ServerFolder::commandMail(sender, "Actions", body)).isEmpty());

        QProcess tramelon;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(display);
        if (!headless)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        tramelon.setProcessEnvironment(env);
        tramelon.setWorkingDirectory("/");
        tramelon.start(program, arguments);
        QVERIFY(tramelon.waitForStarted());
        pid_t reader = 0;
        if (killReader) {
            // Before the first poll: the mail is read by the reader started again.
            const pid_t server = pid_t(tramelon.processId());
            QTRY_VERIFY_WITH_TIMEOUT(childProcesses(server).size() == 1, 2000);
            reader = childProcesses(server).constFirst();
            QCOMPARE(::kill(reader, SIGKILL), 0);
        }

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.marker()), 30000);
        QCOMPARE(folder.read("clefs.dat"), QByteArray("PPPPPPPPPPP1\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(servers.receivedMails(sender).size(), 1, 30000);
        QVERIFY(QFile::exists(folder.path() + "arch_messages"));
        QTRY_COMPARE_WITH_TIMEOUT(servers.messageCount(user), 0, 30000);

        ::kill(pid_t(tramelon.processId()), SIGTERM);
        QVERIFY(tramelon.waitForFinished(10000));
        QCOMPARE(tramelon.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tramelon.exitCode(), 0);
        QCOMPARE(folder.read("clefs.dat"), QByteArray("PPPPPPPPPPP1\r\n"));
        if (headless) {
            // What the window would have shown went to standard error, dated.
            const QString log = QString::fromLocal8Bit(tramelon.readAllStandardError());
            QVERIFY2(log.contains(QRegularExpression(
                         "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
                         "messages: mail de program-user@example.org, code PP\\* : La "
                         "commande : run.bat a bien été lancée")),
                     qPrintable(log));
            // The mail dialogues only with --trace.
            QVERIFY2(!log.contains(" pop3: "), qPrintable(log));
            QVERIFY2(!log.contains(" smtp: "), qPrintable(log));
            const QString fault = QStringLiteral("le lecteur des messages (processus %1) s'est "
                                                 "arrêté (tué par le signal 9) ; un nouveau "
                                                 "lecteur est lancé")
                                      .arg(reader);
            QCOMPARE(log.count(fault), killReader ? 1 : 0);
            QString journal;
            for (const QString &name : QDir(folder.path()).entryList({"journal_*.txt"}))
                journal += QString::fromUtf8(folder.read(name));
            QVERIFY2(journal.count(fault) == (killReader ? 1 : 0), qPrintable(journal));
        }
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
