#include "server/vmime/vmime_socket.h"

#include "server/vmime/tls_probe.h"

#include <vmime/exception.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Steps of a wait, so that the timeout handler is asked in between.
constexpr int kStepMs = 50;
// POP3 and SMTP servers greet at once; one silent this long may be a TLS port.
constexpr int kProbeAfterMs = 3000;
constexpr int kProbeWaitMs = 3000;

// The errno name leads the text: the failure reports read it from there.
[[noreturn]] void throwSocketError(int error)
{
    const char *name = error == ECONNREFUSED   ? "ECONNREFUSED"
                       : error == ETIMEDOUT    ? "ETIMEDOUT"
                       : error == ECONNRESET   ? "ECONNRESET"
                       : error == EPIPE        ? "EPIPE"
                       : error == ENETUNREACH  ? "ENETUNREACH"
                       : error == EHOSTUNREACH ? "EHOSTUNREACH"
                                               : "socket error";
    throw vmime::exceptions::socket_exception(std::string(name) + ": " + std::strerror(error));
}

vmime::string numericAddress(const sockaddr *address, socklen_t length)
{
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return host;
}

} // namespace

TlsExpected::TlsExpected(std::string host, unsigned short port)
    : socket_exception("the port expects TLS from the first byte"), m_host(std::move(host)),
      m_port(port)
{
}

TlsExpected::~TlsExpected() noexcept = default;

vmime::exception *TlsExpected::clone() const { return new TlsExpected(*this); }

const char *TlsExpected::name() const noexcept { return "TlsExpected"; }

VmimeSocket::VmimeSocket(vmime::shared_ptr<vmime::net::timeoutHandler> timeoutHandler)
    : m_timeoutHandler(std::move(timeoutHandler))
{
}

VmimeSocket::~VmimeSocket()
{
    if (m_fd != -1)
        ::close(m_fd);
}

void VmimeSocket::checkTimeout()
{
    if (m_timeoutHandler && m_timeoutHandler->isTimeOut()) {
        if (!m_timeoutHandler->handleTimeOut())
            throw vmime::exceptions::operation_timed_out();
        m_timeoutHandler->resetTimeOut();
    }
}

void VmimeSocket::connect(const vmime::string &address, const vmime::port_t port)
{
    disconnect();
    if (m_timeoutHandler)
        m_timeoutHandler->resetTimeOut();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // A port number: no look-up in the services file at every connection.
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (const int error = ::getaddrinfo(address.c_str(), service.c_str(), &hints, &found))
        throw vmime::exceptions::connection_error(std::string("getaddrinfo: ") +
                                                  ::gai_strerror(error));

    int lastError = ECONNREFUSED;
    try {
        for (addrinfo *candidate = found; candidate && m_fd == -1; candidate = candidate->ai_next) {
            const int fd = ::socket(candidate->ai_family,
                                    candidate->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                    candidate->ai_protocol);
            if (fd < 0) {
                lastError = errno;
                continue;
            }
            int error = 0;
            if (::connect(fd, candidate->ai_addr, candidate->ai_addrlen) < 0) {
                error = errno;
                if (error == EINPROGRESS) {
                    pollfd one{fd, POLLOUT, 0};
                    int ready = 0;
                    while ((ready = ::poll(&one, 1, kStepMs)) == 0) {
                        if (m_timeoutHandler && m_timeoutHandler->isTimeOut() &&
                            !m_timeoutHandler->handleTimeOut()) {
                            ::close(fd);
                            throw vmime::exceptions::connection_error(
                                "ETIMEDOUT: connect timed out");
                        }
                    }
                    socklen_t size = sizeof error;
                    if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
                        error = errno;
                }
            }
            if (error != 0) {
                lastError = error;
                ::close(fd);
                continue;
            }
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_fd = fd;
            m_port = port;
            m_connectedAt = std::chrono::steady_clock::now();
            m_sentAny = m_receivedAny = m_probed = false;
            m_peerName = address;
            m_peerAddress = numericAddress(candidate->ai_addr, candidate->ai_addrlen);
        }
    } catch (...) {
        ::freeaddrinfo(found);
        throw;
    }
    ::freeaddrinfo(found);
    if (m_fd == -1) {
        try {
            throwSocketError(lastError);
        } catch (const vmime::exception &cause) {
            throw vmime::exceptions::connection_error("Error while connecting socket.", cause);
        }
    }
    m_status = 0;
}

bool VmimeSocket::isConnected() const { return m_fd != -1; }

void VmimeSocket::disconnect()
{
    if (m_fd == -1)
        return;
    if (m_tracer)
        m_tracer->traceSend("Disconnecting");
    ::shutdown(m_fd, SHUT_RDWR);
    ::close(m_fd);
    m_fd = -1;
}

bool VmimeSocket::waitFor(short events, int msecs)
{
    if (m_fd == -1)
        throw vmime::exceptions::socket_not_connected_exception();
    // vmime waits up to 30 s at a time: ask the timeout handler in between.
    for (int waited = 0;; waited += kStepMs) {
        pollfd one{m_fd, events, 0};
        const int ready = ::poll(&one, 1, std::min(kStepMs, std::max(0, msecs - waited)));
        if (ready < 0 && errno != EINTR)
            throwSocketError(errno);
        if (ready > 0)
            return true;
        if (waited + kStepMs >= msecs)
            return false;
        checkTimeout();
        if (events == POLLIN)
            probeForTls();
    }
}

bool VmimeSocket::waitForRead(const int msecs) { return waitFor(POLLIN, msecs); }

bool VmimeSocket::waitForWrite(const int msecs) { return waitFor(POLLOUT, msecs); }

void VmimeSocket::receive(vmime::string &buffer)
{
    const size_t size = receiveRaw(m_buffer, sizeof m_buffer);
    buffer.assign(reinterpret_cast<const char *>(m_buffer), size);
}

void VmimeSocket::probeForTls()
{
    if (m_probed || !awaitingGreeting() ||
        std::chrono::steady_clock::now() - m_connectedAt < std::chrono::milliseconds(kProbeAfterMs))
        return;
    m_probed = true;
    const auto handler = m_timeoutHandler;
    if (tls_probe::expects_tls(m_peerAddress, m_port, kProbeWaitMs,
                               [handler] { return handler && handler->isTimeOut(); }))
        throw TlsExpected(m_peerName, m_port);
}

size_t VmimeSocket::receiveRaw(vmime::byte_t *buffer, const size_t count)
{
    m_status &= ~STATUS_WOULDBLOCK;
    if (!waitForRead(kStepMs)) {
        probeForTls();
        m_status |= STATUS_WOULDBLOCK;
        checkTimeout();
        return 0;
    }
    const ssize_t received = ::recv(m_fd, buffer, count, 0);
    if (received < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            m_status |= STATUS_WOULDBLOCK;
            return 0;
        }
        throwSocketError(errno);
    }
    if (received == 0)
        throw vmime::exceptions::socket_exception("ECONNRESET: connection closed by the server");
    if (awaitingGreeting() && tls_probe::looks_like_tls(buffer, static_cast<size_t>(received)))
        throw TlsExpected(m_peerName, m_port);
    m_receivedAny = true;
    if (m_timeoutHandler)
        m_timeoutHandler->resetTimeOut();
    if (m_tracer)
        m_tracer->traceReceiveBytes(static_cast<size_t>(received));
    return static_cast<size_t>(received);
}

void VmimeSocket::send(const vmime::string &buffer)
{
    sendRaw(reinterpret_cast<const vmime::byte_t *>(buffer.data()), buffer.size());
}

void VmimeSocket::send(const char *str)
{
    sendRaw(reinterpret_cast<const vmime::byte_t *>(str), std::strlen(str));
}

void VmimeSocket::sendRaw(const vmime::byte_t *buffer, const size_t count)
{
    m_status &= ~STATUS_WOULDBLOCK;
    size_t done = 0;
    while (done < count) {
        const size_t sent = sendRawNonBlocking(buffer + done, count - done);
        if (sent == 0) {
            if (!waitForWrite(kStepMs))
                checkTimeout();
            continue;
        }
        done += sent;
    }
    m_status &= ~STATUS_WOULDBLOCK;
}

size_t VmimeSocket::sendRawNonBlocking(const vmime::byte_t *buffer, const size_t count)
{
    if (m_fd == -1)
        throw vmime::exceptions::socket_not_connected_exception();
    m_status &= ~STATUS_WOULDBLOCK;
    const ssize_t sent = ::send(m_fd, buffer, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            m_status |= STATUS_WOULDBLOCK;
            return 0;
        }
        throwSocketError(errno);
    }
    m_sentAny = true;
    if (m_timeoutHandler)
        m_timeoutHandler->resetTimeOut();
    if (m_tracer)
        m_tracer->traceSendBytes(static_cast<size_t>(sent));
    return static_cast<size_t>(sent);
}

size_t VmimeSocket::getBlockSize() const { return sizeof m_buffer; }

unsigned int VmimeSocket::getStatus() const { return m_status; }

const vmime::string VmimeSocket::getPeerName() const { return m_peerName; }

const vmime::string VmimeSocket::getPeerAddress() const { return m_peerAddress; }

vmime::shared_ptr<vmime::net::timeoutHandler> VmimeSocket::getTimeoutHandler()
{
    return m_timeoutHandler;
}

void VmimeSocket::setTracer(vmime::shared_ptr<vmime::net::tracer> tracer) { m_tracer = tracer; }

vmime::shared_ptr<vmime::net::tracer> VmimeSocket::getTracer() { return m_tracer; }

vmime::shared_ptr<vmime::net::socket> VmimeSocketFactory::create()
{
    return vmime::make_shared<VmimeSocket>(nullptr);
}

vmime::shared_ptr<vmime::net::socket>
VmimeSocketFactory::create(vmime::shared_ptr<vmime::net::timeoutHandler> timeoutHandler)
{
    return vmime::make_shared<VmimeSocket>(timeoutHandler);
}

ClosableSocketFactory::ClosableSocketFactory(vmime::shared_ptr<vmime::net::socketFactory> inner)
    : m_inner(std::move(inner))
{
}

vmime::shared_ptr<vmime::net::socket> ClosableSocketFactory::create()
{
    return track(m_inner->create());
}

vmime::shared_ptr<vmime::net::socket>
ClosableSocketFactory::create(vmime::shared_ptr<vmime::net::timeoutHandler> timeoutHandler)
{
    return track(m_inner->create(timeoutHandler));
}

vmime::shared_ptr<vmime::net::socket>
ClosableSocketFactory::track(vmime::shared_ptr<vmime::net::socket> socket)
{
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_sockets, [](const auto &one) { return one.expired(); });
    m_sockets.push_back(socket);
    return socket;
}

void ClosableSocketFactory::closeAll()
{
    const std::lock_guard lock(m_mutex);
    for (const auto &one : m_sockets)
        if (const auto socket = one.lock())
            socket->disconnect();
}
