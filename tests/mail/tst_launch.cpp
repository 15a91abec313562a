// The shell launch: a real child process, detached, with the actions folder as
// working directory, and the shell's error values.
#include "platform/shell_launch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

class TestLaunch : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private Q_SLOTS:
    void batchFileRunsInItsFolderDetached()
    {
        QFile bat(dir.filePath("run.bat"));
        QVERIFY(bat.open(QIODevice::WriteOnly));
        bat.write("pwd > marker\nps -o sid= -p $$ > sid\n");
        bat.close();
        QVERIFY(platform::ShellExecute("run.bat", dir.path()) > 32);
        QTRY_VERIFY(QFile(dir.filePath("sid")).size() > 0);
        QFile marker(dir.filePath("marker"));
        QVERIFY(marker.open(QIODevice::ReadOnly));
        QCOMPARE(marker.readAll().trimmed(), dir.path().toUtf8());
        // No child of ours is left to reap: the launch does not wait and leaves no zombie.
        QCOMPARE(waitpid(-1, nullptr, WNOHANG), -1);
    }

    // The followed launch: a child in a group of its own, recorded before it
    // runs, signals as a fresh program has them, its output to the file
    // given, its end seen on its pidfd and read with its code.
    void followedLaunch()
    {
        QFile bat(dir.filePath("suivi.bat"));
        QVERIFY(bat.open(QIODevice::WriteOnly));
        bat.write("cat ran 2>/dev/null\nps -o pgid= -p $$ | tr -d ' '\n"
                  // grep's own masks, which it has from the batch file: the shell's
                  // are all blocked for a moment while it waits for its children.
                  "grep -e SigIgn -e SigBlk /proc/self/status\nexit 7\n");
        bat.close();
        const QString sortie = dir.filePath("sortie.txt");
        const int fd = platform::cree_sortie(sortie);
        QVERIFY(fd >= 0);
        QCOMPARE(platform::cree_sortie(sortie), -1); // never an existing file
        ::signal(SIGPIPE, SIG_IGN);
        qint64 recorded = 0;
        const platform::LancementSuivi l =
            platform::lance_suivi("suivi.bat", dir.path(), fd, [&](qint64 pid) {
                recorded = pid;
                QFile ran(dir.filePath("ran")); // written before the batch file reads it
                QVERIFY(ran.open(QIODevice::WriteOnly));
                ran.write("recorded first\n");
            });
        ::signal(SIGPIPE, SIG_DFL);
        platform::ferme_sortie(fd);
        QVERIFY(l.resultat > 32);
        QCOMPARE(l.pid, recorded);
        QVERIFY(l.pidfd >= 0);
        pollfd end{l.pidfd, POLLIN, 0};
        QCOMPARE(::poll(&end, 1, 10000), 1);
        const auto fin = platform::fin_processus(l.pid);
        QVERIFY(fin && !fin->signal && !fin->inconnue);
        QCOMPARE(fin->valeur, 7);
        ::close(l.pidfd);
        QFile out(sortie);
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), "recorded first\n" + QByteArray::number(l.pid) +
                                    "\nSigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    }

    void errors_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("expected");
        QTest::newRow("missing file") << "absent.bat" << dir.path() << platform::kShellFileNotFound;
        QTest::newRow("missing folder")
            << "run.bat" << dir.filePath("nowhere") << platform::kShellPathNotFound;
    }

    void errors()
    {
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QFETCH(int, expected);
        QCOMPARE(platform::ShellExecute(file, folder), expected);
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
