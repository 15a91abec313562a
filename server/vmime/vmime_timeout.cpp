#include "server/vmime/vmime_timeout.h"

#include <chrono>

namespace {

class Deadline : public vmime::net::timeoutHandler
{
public:
    Deadline(std::chrono::milliseconds limit, std::function<bool()> cancelled)
        : m_limit(limit), m_cancelled(std::move(cancelled))
    {
        resetTimeOut();
    }

    bool isTimeOut() override
    {
        return (m_cancelled && m_cancelled()) || std::chrono::steady_clock::now() >= m_deadline;
    }
    void resetTimeOut() override { m_deadline = std::chrono::steady_clock::now() + m_limit; }
    // Never extend: the caller waits on us.
    bool handleTimeOut() override { return false; }

private:
    std::chrono::milliseconds m_limit;
    std::function<bool()> m_cancelled;
    std::chrono::steady_clock::time_point m_deadline;
};

} // namespace

vmime::shared_ptr<vmime::net::timeoutHandler> VmimeTimeout::create()
{
    return vmime::make_shared<Deadline>(std::chrono::milliseconds(m_milliseconds), m_cancelled);
}
