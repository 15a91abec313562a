#include "server/vmime/mail_call_runner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace {

// How long a posted line may wait while run() waits: unseen by a person.
constexpr int kBatchMs = 50;

} // namespace

MailCallRunner::MailCallRunner(QObject *parent) : QObject(parent), m_workerContext(new QObject)
{
    m_thread.setObjectName(QStringLiteral("mail dialogue"));
    m_workerContext->moveToThread(&m_thread);
    m_thread.start();
}

MailCallRunner::~MailCallRunner()
{
    m_quiet = true;
    // Behind what was dispatched, so that a parting QUIT still goes out.
    QMetaObject::invokeMethod(
        m_workerContext, [this] { m_thread.quit(); }, Qt::QueuedConnection);
    m_thread.wait();
    delete m_workerContext;
}

void MailCallRunner::run(const std::function<void()> &work)
{
    m_busy = true;
    m_running = true;
    bool done = false;
    QEventLoop loop;
    QTimer batches;
    batches.setInterval(kBatchMs);
    connect(&batches, &QTimer::timeout, this, &MailCallRunner::runPosted);
    batches.start();
    QMetaObject::invokeMethod(
        m_workerContext,
        [this, &work, &loop, &done] {
            work();
            QMetaObject::invokeMethod(
                this,
                [this, &loop, &done] {
                    // What the work posted runs first.
                    m_running = false;
                    runPosted();
                    done = true;
                    loop.quit();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    loop.exec();
    // QCoreApplication::exit() ends every running loop and keeps new ones
    // from starting: the wait goes on by hand.
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_busy = false;
}

void MailCallRunner::dispatch(std::function<void()> work)
{
    QMetaObject::invokeMethod(
        m_workerContext,
        [this, work = std::move(work)] {
            m_quiet = true;
            work();
            m_quiet = false;
        },
        Qt::QueuedConnection);
}

void MailCallRunner::post(std::function<void()> fn)
{
    if (m_quiet)
        return;
    bool first = false;
    {
        const std::lock_guard lock(m_postedLock);
        first = m_posted.empty();
        m_posted.push_back(std::move(fn));
    }
    // Outside run() a call already queued runs this one too, in order.
    if (first && !m_running)
        QMetaObject::invokeMethod(
            this, [this] { runPosted(); }, Qt::QueuedConnection);
}

void MailCallRunner::runPosted()
{
    std::vector<std::function<void()>> batch;
    {
        const std::lock_guard lock(m_postedLock);
        batch.swap(m_posted);
    }
    for (const std::function<void()> &fn : batch)
        fn();
}
