#pragma once

#include <vmime/net/timeoutHandler.hpp>

#include <functional>

// Gives every connect and every command of a vmime service the same limit, so
// that a server which accepts and never answers cannot hold the caller.
class VmimeTimeout : public vmime::net::timeoutHandlerFactory
{
public:
    // cancelled, when given, ends the wait at once when it says so (vmime
    // looks at least every 50 ms while it waits on the network).
    explicit VmimeTimeout(int milliseconds, std::function<bool()> cancelled = {})
        : m_milliseconds(milliseconds), m_cancelled(std::move(cancelled))
    {
    }

    vmime::shared_ptr<vmime::net::timeoutHandler> create() override;

private:
    int m_milliseconds;
    std::function<bool()> m_cancelled;
};
