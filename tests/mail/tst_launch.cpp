// The shell launch: a real child process, detached, with the actions folder as
// working directory, and the shell's error values.
#include "platform/shell_launch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/wait.h>

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
