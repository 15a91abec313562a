// What the dialogue's thread posts reaches the caller's thread in order, all
// of it before run() returns, and while a long call still runs.
#include "server/vmime/mail_call_runner.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

class TestMailCallRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void postedRunInOrderBeforeRunReturns()
    {
        MailCallRunner runner;
        QList<int> seen;
        bool onCaller = true;
        const QThread *caller = QThread::currentThread();
        runner.run([&] {
            for (int i = 0; i < 1000; ++i)
                runner.post([&, i] {
                    onCaller = onCaller && QThread::currentThread() == caller;
                    seen.append(i);
                });
        });
        QCOMPARE(seen.size(), 1000);
        for (int i = 0; i < seen.size(); ++i)
            QCOMPARE(seen.at(i), i);
        QVERIFY(onCaller);
    }

    // A server that stalls: the lines given before the stall are seen
    // meanwhile, not only once it ends.
    void postedSeenWhileTheCallWaits()
    {
        MailCallRunner runner;
        std::atomic<bool> over{false};
        qint64 seenAfterMs = -1;
        bool seenDuring = false;
        QElapsedTimer clock;
        clock.start();
        runner.run([&] {
            runner.post([&] {
                seenAfterMs = clock.elapsed();
                seenDuring = !over;
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            over = true;
        });
        QVERIFY(seenDuring);
        QVERIFY2(seenAfterMs < 1000, qPrintable(QString::number(seenAfterMs)));
    }

    // Outside a call (a cleanup after a lost connection), a post still arrives.
    void postedOutsideACall()
    {
        MailCallRunner runner;
        bool seen = false;
        std::thread other([&] { runner.post([&] { seen = true; }); });
        other.join();
        QTRY_VERIFY(seen);
    }
};

QTEST_GUILESS_MAIN(TestMailCallRunner)
#include "tst_mail_call_runner.moc"
