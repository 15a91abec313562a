#pragma once

#include <QString>

#include <vmime/net/tracer.hpp>

#include <functional>

// Hands every line of a vmime dialogue to a callback, as the status lines of
// the session: type 1 received, 2 sent, 4 a change of state. Passwords and
// authentication data never leave it.
class VmimeTracer : public vmime::net::tracerFactory
{
public:
    using Sink = std::function<void(const QString &line, qint32 type)>;

    explicit VmimeTracer(Sink sink) : m_sink(std::move(sink)) {}

    vmime::shared_ptr<vmime::net::tracer> create(vmime::shared_ptr<vmime::net::service> service,
                                                 int connectionId) override;

    // The line as it may be shown: credentials replaced by asterisks.
    static QString masked(const QString &line);

private:
    Sink m_sink;
};
