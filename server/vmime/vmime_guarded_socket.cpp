#include "server/vmime/vmime_guarded_socket.h"

#include "server/vmime/vmime_socket.h"

#include <vmime/exception.hpp>
#include <vmime/platform.hpp>

namespace {

class GuardedSocket : public vmime::net::socket
{
public:
    GuardedSocket(vmime::shared_ptr<vmime::net::socket> inner, std::shared_ptr<SocketGuard> guard)
        : m_inner(std::move(inner)), m_guard(std::move(guard))
    {
    }

    void connect(const vmime::string &address, const vmime::port_t port) override
    {
        m_guard->checkCancelled();
        m_inner->connect(address, port);
    }
    void disconnect() override { m_inner->disconnect(); }
    bool isConnected() const override { return m_inner->isConnected(); }
    bool waitForRead(const int msecs) override
    {
        m_guard->checkCancelled();
        return m_inner->waitForRead(msecs);
    }
    bool waitForWrite(const int msecs) override
    {
        m_guard->checkCancelled();
        return m_inner->waitForWrite(msecs);
    }
    void receive(vmime::string &buffer) override
    {
        m_guard->checkCancelled();
        m_inner->receive(buffer);
        m_guard->checkReceived(buffer.size());
    }
    size_t receiveRaw(vmime::byte_t *buffer, const size_t count) override
    {
        m_guard->checkCancelled();
        const size_t got = m_inner->receiveRaw(buffer, count);
        m_guard->checkReceived(got);
        return got;
    }
    void send(const vmime::string &buffer) override
    {
        m_guard->checkCancelled();
        m_guard->commandSent();
        m_inner->send(buffer);
    }
    void send(const char *str) override
    {
        m_guard->checkCancelled();
        m_guard->commandSent();
        m_inner->send(str);
    }
    void sendRaw(const vmime::byte_t *buffer, const size_t count) override
    {
        m_guard->checkCancelled();
        m_guard->commandSent();
        m_inner->sendRaw(buffer, count);
    }
    size_t sendRawNonBlocking(const vmime::byte_t *buffer, const size_t count) override
    {
        m_guard->checkCancelled();
        m_guard->commandSent();
        return m_inner->sendRawNonBlocking(buffer, count);
    }
    size_t getBlockSize() const override { return m_inner->getBlockSize(); }
    unsigned int getStatus() const override { return m_inner->getStatus(); }
    const vmime::string getPeerName() const override { return m_inner->getPeerName(); }
    const vmime::string getPeerAddress() const override { return m_inner->getPeerAddress(); }
    vmime::shared_ptr<vmime::net::timeoutHandler> getTimeoutHandler() override
    {
        return m_inner->getTimeoutHandler();
    }
    void setTracer(vmime::shared_ptr<vmime::net::tracer> tracer) override
    {
        m_inner->setTracer(tracer);
    }
    vmime::shared_ptr<vmime::net::tracer> getTracer() override { return m_inner->getTracer(); }

private:
    vmime::shared_ptr<vmime::net::socket> m_inner;
    std::shared_ptr<SocketGuard> m_guard;
};

} // namespace

void SocketGuard::reset()
{
    m_cancelled = false;
    m_received = 0;
    std::lock_guard lock(m_mutex);
    m_failure.reset();
}

void SocketGuard::checkReceived(size_t octets)
{
    m_received += static_cast<qint64>(octets);
    if (m_limit > 0 && m_received > m_limit)
        fail({MailError::TooLong,
              QStringLiteral("Réponse du serveur trop longue (plus de %1 octets), session terminée")
                  .arg(m_limit)});
}

void SocketGuard::checkCancelled()
{
    if (m_cancelled && !m_closing)
        fail({MailError::Cancelled, QStringLiteral("Opération POP3 interrompue")});
}

std::optional<MailFailure> SocketGuard::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void SocketGuard::fail(MailFailure failure)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_failure)
            m_failure = failure;
    }
    // vmime's TLS layer may catch and re-throw this as another kind: the
    // reason is kept above for the caller.
    throw vmime::exceptions::socket_exception(failure.description.toStdString());
}

GuardedSocketFactory::GuardedSocketFactory(std::shared_ptr<SocketGuard> guard)
    : m_platform(vmime::make_shared<VmimeSocketFactory>()), m_guard(std::move(guard))
{
}

vmime::shared_ptr<vmime::net::socket> GuardedSocketFactory::create()
{
    return vmime::make_shared<GuardedSocket>(m_platform->create(), m_guard);
}

vmime::shared_ptr<vmime::net::socket>
GuardedSocketFactory::create(vmime::shared_ptr<vmime::net::timeoutHandler> th)
{
    return vmime::make_shared<GuardedSocket>(m_platform->create(th), m_guard);
}
