#pragma once

#include <vmime/exception.hpp>
#include <vmime/net/socket.hpp>
#include <vmime/net/timeoutHandler.hpp>
#include <vmime/net/tracer.hpp>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

// A greeting awaited in plain text from a port that speaks TLS from the first
// byte: it sent a TLS record, or answered a probe with one.
class TlsExpected : public vmime::exceptions::socket_exception
{
public:
    TlsExpected(std::string host, unsigned short port);
    ~TlsExpected() noexcept override;
    vmime::exception *clone() const override;
    const char *name() const noexcept override;

    const std::string &host() const { return m_host; }
    unsigned short port() const { return m_port; }

private:
    std::string m_host;
    unsigned short m_port;
};

// The TCP sockets of both mail components. Unlike vmime's own, they set
// TCP_NODELAY: a mail dialogue is made of small commands, each waiting for
// its answer, and with Nagle's algorithm every one of them waited on the
// peer's delayed acknowledgement. Connect, read and write follow the
// timeout handler: no call blocks past it. A greeting awaited in plain text
// (nothing sent yet) that starts like TLS, or that has not come after a few
// seconds from a port that answers a TLS probe, ends the wait with
// TlsExpected.
class VmimeSocket : public vmime::net::socket
{
public:
    explicit VmimeSocket(vmime::shared_ptr<vmime::net::timeoutHandler> timeoutHandler);
    ~VmimeSocket() override;

    void connect(const vmime::string &address, const vmime::port_t port) override;
    bool isConnected() const override;
    void disconnect() override;

    bool waitForRead(const int msecs = 30000) override;
    bool waitForWrite(const int msecs = 30000) override;

    void receive(vmime::string &buffer) override;
    size_t receiveRaw(vmime::byte_t *buffer, const size_t count) override;
    void send(const vmime::string &buffer) override;
    void send(const char *str) override;
    void sendRaw(const vmime::byte_t *buffer, const size_t count) override;
    size_t sendRawNonBlocking(const vmime::byte_t *buffer, const size_t count) override;

    size_t getBlockSize() const override;
    unsigned int getStatus() const override;
    const vmime::string getPeerName() const override;
    const vmime::string getPeerAddress() const override;

    vmime::shared_ptr<vmime::net::timeoutHandler> getTimeoutHandler() override;
    void setTracer(vmime::shared_ptr<vmime::net::tracer> tracer) override;
    vmime::shared_ptr<vmime::net::tracer> getTracer() override;

private:
    bool waitFor(short events, int msecs);
    void checkTimeout();
    // While the first bytes of a plain-text greeting are awaited.
    bool awaitingGreeting() const { return !m_sentAny && !m_receivedAny; }
    void probeForTls();

    vmime::shared_ptr<vmime::net::timeoutHandler> m_timeoutHandler;
    vmime::shared_ptr<vmime::net::tracer> m_tracer;
    int m_fd = -1;
    unsigned int m_status = 0;
    vmime::string m_peerName;
    vmime::string m_peerAddress;
    vmime::byte_t m_buffer[16384];
    vmime::port_t m_port = 0;
    std::chrono::steady_clock::time_point m_connectedAt;
    bool m_sentAny = false;
    bool m_receivedAny = false;
    bool m_probed = false;
};

class VmimeSocketFactory : public vmime::net::socketFactory
{
public:
    vmime::shared_ptr<vmime::net::socket> create() override;
    vmime::shared_ptr<vmime::net::socket>
    create(vmime::shared_ptr<vmime::net::timeoutHandler> timeoutHandler) override;
};

// Makes its sockets through another factory and can close those still open.
// A server whose certificate was refused gets not a byte more: vmime would
// otherwise send it QUIT on the way out, in clear after STARTTLS, and wait
// for an answer an impostor need never give.
class ClosableSocketFactory : public vmime::net::socketFactory
{
public:
    explicit ClosableSocketFactory(vmime::shared_ptr<vmime::net::socketFactory> inner);

    vmime::shared_ptr<vmime::net::socket> create() override;
    vmime::shared_ptr<vmime::net::socket>
    create(vmime::shared_ptr<vmime::net::timeoutHandler> timeoutHandler) override;
    void closeAll();

private:
    vmime::shared_ptr<vmime::net::socket> track(vmime::shared_ptr<vmime::net::socket> socket);

    vmime::shared_ptr<vmime::net::socketFactory> m_inner;
    std::mutex m_mutex;
    std::vector<std::weak_ptr<vmime::net::socket>> m_sockets;
};
