#pragma once

#include <vmime/net/timeoutHandler.hpp>

// Gives every connect and every command of a vmime service the same limit, so
// that a server which accepts and never answers cannot hold the caller.
class VmimeTimeout : public vmime::net::timeoutHandlerFactory
{
public:
    explicit VmimeTimeout(int milliseconds) : m_milliseconds(milliseconds) {}

    vmime::shared_ptr<vmime::net::timeoutHandler> create() override;

private:
    int m_milliseconds;
};
