// The tramelon program itself, started from a prepared folder with nothing but
// its own timers: a command mail waiting in the mailbox is carried out within
// ten seconds, and a termination request writes the key file back.
#include "server_folder.h"
#include "tests/support/mail_servers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

class TestProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void processesAMailWithinTenSeconds()
    {
        MailServers servers;
        QVERIFY2(servers.isValid(), qPrintable(servers.error()));
        const QString user = QStringLiteral("u8");
        const QString sender = QStringLiteral("program-user@example.org");
        servers.clearMailbox(user);
        servers.clearReceived(sender);
        ServerFolder folder(servers, user, {"PPPPPPPPPPP1", "PPPPPPPPPPP2"});
        // The program takes its files from its own folder.
        QVERIFY(QFile::copy(TRAMELON_BIN, folder.path() + "tramelon"));
        QFile::setPermissions(folder.path() + "tramelon", QFile::permissions(TRAMELON_BIN));
        const QString body = "Bonjour,\r\nCommande:run.bat;\r\nCode:PPPPPPPPPPP2;\r\n";
        QVERIFY(!servers.deliver(user, ServerFolder::commandMail(sender, "Actions", body)).isEmpty());

        QProcess tramelon;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        tramelon.setProcessEnvironment(env);
        tramelon.setWorkingDirectory("/");
        tramelon.start(folder.path() + "tramelon", {});
        QVERIFY(tramelon.waitForStarted());

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.marker()), 10000);
        QCOMPARE(folder.read("clefs.dat"), QByteArray("PPPPPPPPPPP1\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(servers.receivedMails(sender).size(), 1, 10000);
        QVERIFY(QFile::exists(folder.path() + "arch_messages"));

        ::kill(pid_t(tramelon.processId()), SIGTERM);
        QVERIFY(tramelon.waitForFinished(10000));
        QCOMPARE(tramelon.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tramelon.exitCode(), 0);
        QCOMPARE(folder.read("clefs.dat"), QByteArray("PPPPPPPPPPP1\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
