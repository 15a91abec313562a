#pragma once

#include "server/vmime/mail_failure.h"

#include <vmime/net/socket.hpp>

#include <atomic>
#include <mutex>
#include <optional>

// What the caller's thread shares with the socket of a running dialogue: a
// request to end the call in flight, and the bound on what one answer of the
// server may bring.
class SocketGuard
{
public:
    // From any thread: the socket gives up at its next read or write.
    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }
    void reset();

    // Worker side. Octets one answer may bring, counted from the last command sent.
    void setAnswerLimit(qint64 octets) { m_limit = octets; }
    qint64 answerLimit() const { return m_limit; }
    // Throws (and remembers why) when the call was cancelled or the answer is too long.
    void checkReceived(size_t octets);
    void commandSent() { m_received = 0; }
    void checkCancelled();
    // While set, a cancel no longer stops sends: the parting QUIT still goes.
    void setClosing(bool closing) { m_closing = closing; }
    // Why the dialogue gave up, when it did.
    std::optional<MailFailure> failure() const;
    // Worker side: remembers why and throws, so that the caller reports this
    // reason whatever vmime makes of the exception on its way up.
    [[noreturn]] void fail(MailFailure failure);

private:
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_closing{false};
    std::atomic<qint64> m_limit{0};
    std::atomic<qint64> m_received{0};
    mutable std::mutex m_mutex;
    std::optional<MailFailure> m_failure;
};

// Makes the sockets of a vmime service through the platform's own factory and
// puts each under the guard. vmime's own readers keep whatever a server sends
// until a line ends; the guard ends the session before memory runs away.
class GuardedSocketFactory : public vmime::net::socketFactory
{
public:
    explicit GuardedSocketFactory(std::shared_ptr<SocketGuard> guard);

    vmime::shared_ptr<vmime::net::socket> create() override;
    vmime::shared_ptr<vmime::net::socket>
    create(vmime::shared_ptr<vmime::net::timeoutHandler> th) override;

private:
    vmime::shared_ptr<vmime::net::socketFactory> m_platform;
    std::shared_ptr<SocketGuard> m_guard;
};
