#pragma once

#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// Runs the blocking network dialogue of a mail component on a thread of its
// own while the calling thread waits in a nested event loop: windows repaint,
// timers tick and clicks are handled meanwhile. What the dialogue post()s runs
// on the caller's thread, in order, before run() returns: in batches, a few
// times a second and at the end, since waking the caller for each traced line
// cost the dialogue itself its speed.
class MailCallRunner : public QObject
{
    Q_OBJECT

public:
    explicit MailCallRunner(QObject *parent = nullptr);
    // Waits for a dialogue still running: never leaves it a dangling object.
    // Owners end it first (a cancel), so that this wait is short.
    ~MailCallRunner() override;

    // Calls work on the worker thread and returns when it is over, never
    // before, even when the application quits the event loops meanwhile: work
    // and what it refers to live on the caller's stack. work must not throw.
    // Not re-entrant: callers check busy() first.
    void run(const std::function<void()> &work);
    // Queues work on the worker and returns at once: for cleaning up after a
    // lost connection, which must not hold the caller. Later calls run after it.
    // What work posts is dropped.
    void dispatch(std::function<void()> work);
    // From the worker thread: call fn on the caller's thread.
    void post(std::function<void()> fn);
    bool busy() const { return m_busy; }

private:
    // Runs on the caller's thread what the worker posted since the last call.
    void runPosted();

    QThread m_thread;
    QObject *m_workerContext;
    bool m_busy = false;
    std::atomic<bool> m_quiet{false};
    // Posted and not run yet. While run() waits, its own timer and its end
    // run them; otherwise the first of them wakes the caller's thread.
    std::atomic<bool> m_running{false};
    std::mutex m_postedLock;
    std::vector<std::function<void()>> m_posted;
};
