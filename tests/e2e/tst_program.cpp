// The tramelon program itself, started on a prepared folder with nothing but its
// own timers, with its window or without any display: a command mail waiting in
// the mailbox is carried out within ten seconds, and a termination request
// writes the key file back.
#include "server_folder.h"
#include "tests/support/mail_servers.h"

#include <QDeadlineTimer>
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
        QTest::newRow("window, from its own folder") << false;
        QTest::newRow("headless, --folder") << true;
    }

    void processesAMailWithinTenSeconds()
    {
        QFETCH(bool, headless);
        MailServers servers;
        QVERIFY2(servers.isValid(), qPrintable(servers.error()));
        const QString user = QStringLiteral("u8");
        const QString sender = QStringLiteral("program-user@example.org");
        servers.clearMailbox(user);
        servers.clearReceived(sender);
        ServerFolder folder(servers, user, {"PPPPPPPPPPP1", "PPPPPPPPPPP2"});
        QString program = TRAMELON_BIN;
        QStringList arguments{"--headless", "--folder", folder.path()};
        if (!headless) {
            // The program takes its files from its own folder, and its mail
            // reader from beside itself.
            program = folder.path() + "tramelon";
            for (const QString name : {"tramelon", "tramelon-analyse"}) {
                const QString built = QStringLiteral(TRAMELON_BIN).chopped(8) + name;
                QVERIFY(QFile::copy(built, folder.path() + name));
                QFile::setPermissions(folder.path() + name, QFile::permissions(built));
            }
            arguments.clear();
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

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.marker()), 10000);
        QCOMPARE(folder.read("clefs.dat"), QByteArray("PPPPPPPPPPP1\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(servers.receivedMails(sender).size(), 1, 10000);
        QVERIFY(QFile::exists(folder.path() + "arch_messages"));

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
        }
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
