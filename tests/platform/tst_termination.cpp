// A termination request ends the server within two seconds, even when the
// window's thread never comes back to its event loop. The program under test
// is this executable itself, started again in a held-up mode.
#include "platform/termination.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// The window's thread busy for good (a parse that never ends) or a shut-down
// that never returns: either way the event loop is no longer served.
int heldUp(int argc, char *argv[], bool inShutDown)
{
    QCoreApplication app(argc, argv);
    installer_arret_sur_signal(&app, [] {
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    });
    std::printf("ready\n");
    std::fflush(stdout);
    if (!inShutDown) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return app.exec();
}

} // namespace

class TestTermination : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void endsWithinTwoSeconds_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("window's thread held") << "--held";
        QTest::newRow("shut-down that never returns") << "--stuck-shutdown";
    }

    void endsWithinTwoSeconds()
    {
        QFETCH(QString, mode);
        QProcess program;
        program.start(QCoreApplication::applicationFilePath(), {mode});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY(program.canReadLine() || program.state() != QProcess::Running);
        QCOMPARE(program.readLine().trimmed(), QByteArray("ready"));

        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 128 + SIGTERM);
    }
};

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--held") == 0)
        return heldUp(argc, argv, false);
    if (argc > 1 && std::strcmp(argv[1], "--stuck-shutdown") == 0)
        return heldUp(argc, argv, true);
    QCoreApplication app(argc, argv);
    TestTermination test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_termination.moc"
