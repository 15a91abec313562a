#include "server/vmime/mail_call_runner.h"

#include <QEventLoop>

MailCallRunner::MailCallRunner(QObject *parent) : QObject(parent), m_workerContext(new QObject)
{
    m_thread.setObjectName(QStringLiteral("mail dialogue"));
    m_workerContext->moveToThread(&m_thread);
    m_thread.start();
}

MailCallRunner::~MailCallRunner()
{
    m_thread.quit();
    m_thread.wait();
    delete m_workerContext;
}

void MailCallRunner::run(const std::function<void()> &work)
{
    m_busy = true;
    QEventLoop loop;
    QMetaObject::invokeMethod(
        m_workerContext,
        [this, &work, &loop] {
            work();
            // Queued behind everything the work posted, so those run first.
            QMetaObject::invokeMethod(
                this, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    loop.exec();
    m_busy = false;
}

void MailCallRunner::runQuietly(const std::function<void()> &work)
{
    m_busy = true;
    m_quiet = true;
    QMetaObject::invokeMethod(
        m_workerContext, [&work] { work(); }, Qt::BlockingQueuedConnection);
    m_quiet = false;
    m_busy = false;
}

void MailCallRunner::post(std::function<void()> fn)
{
    if (m_quiet)
        return;
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}
