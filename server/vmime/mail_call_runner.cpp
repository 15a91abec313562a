#include "server/vmime/mail_call_runner.h"

#include <QCoreApplication>
#include <QEventLoop>

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
    bool done = false;
    QEventLoop loop;
    QMetaObject::invokeMethod(
        m_workerContext,
        [this, &work, &loop, &done] {
            work();
            // Queued behind everything the work posted, so those run first.
            QMetaObject::invokeMethod(
                this,
                [&loop, &done] {
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
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}
