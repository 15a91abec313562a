#include "server/vmime/vmime_tracer.h"

#include <QRegularExpression>

namespace {

class LineTracer : public vmime::net::tracer
{
public:
    explicit LineTracer(VmimeTracer::Sink sink) : m_sink(std::move(sink)) {}

    void traceSend(const vmime::string &line) override
    {
        const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
        // vmime traces its socket's own steps as sent lines; they are state changes.
        const bool step = text.startsWith(QLatin1String("Connecting to ")) ||
                          text == QLatin1String("Disconnecting");
        m_sink(VmimeTracer::masked(text), step ? 4 : 2);
    }

    void traceReceive(const vmime::string &line) override
    {
        m_sink(VmimeTracer::masked(
                   QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()))),
               1);
    }

    void traceReceiveBytes(const size_t count, const vmime::string &state) override
    {
        if (state.empty())
            m_sink(QStringLiteral("(%1 octets reçus)").arg(count), 1);
    }

    void traceSendBytes(const size_t count, const vmime::string &state) override
    {
        if (state.empty())
            m_sink(QStringLiteral("(%1 octets envoyés)").arg(count), 2);
    }

private:
    VmimeTracer::Sink m_sink;
};

} // namespace

vmime::shared_ptr<vmime::net::tracer> VmimeTracer::create(vmime::shared_ptr<vmime::net::service>,
                                                          int)
{
    return vmime::make_shared<LineTracer>(m_sink);
}

QString VmimeTracer::masked(const QString &line)
{
    // PASS, APOP and an AUTH with its initial response carry secrets.
    static const QRegularExpression secret(
        QStringLiteral("^((?:PASS|APOP\\s+\\S+|AUTH\\s+\\S+)\\s+).+$"),
        QRegularExpression::CaseInsensitiveOption);
    QString text = line;
    text.replace(secret, QStringLiteral("\\1********"));
    return text;
}
