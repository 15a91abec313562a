#include "server/vmime/vmime_pop3_retrieve.h"

#include <vmime/net/pop3/POP3Command.hpp>
#include <vmime/net/pop3/POP3Connection.hpp>
#include <vmime/net/pop3/POP3Store.hpp>
#include <vmime/vmime.hpp>

namespace {

// The lines of a multi-line answer, unstuffed, up to the lone ".".
QByteArray unstuff(const QByteArray &body)
{
    QByteArray message;
    message.reserve(body.size());
    qsizetype pos = 0;
    while (pos < body.size()) {
        qsizetype end = body.indexOf('\n', pos);
        end = end < 0 ? body.size() : end + 1;
        const QByteArray line = body.mid(pos, end - pos);
        if (line == ".\r\n" || line == ".\n")
            break;
        message += line.startsWith('.') ? line.mid(1) : line;
        pos = end;
    }
    return message;
}

} // namespace

QByteArray vmime_pop3_retrieve(const vmime::shared_ptr<vmime::net::store> &store, size_t number)
{
    const auto pop3 = vmime::dynamicCast<vmime::net::pop3::POP3Store>(store);
    if (!pop3 || !pop3->isConnected())
        throw vmime::exceptions::not_connected();
    const auto connection = pop3->getConnection();
    const auto socket = connection->getSocket();
    const auto timeout = connection->getTimeoutHandler();
    const auto tracer = connection->getTracer();

    vmime::net::pop3::POP3Command::RETR(number)->send(connection);
    if (timeout)
        timeout->resetTimeOut();

    QByteArray data;
    qsizetype bodyStart = -1;
    for (;;) {
        vmime::string chunk;
        socket->receive(chunk);
        if (chunk.empty()) {
            if (timeout && timeout->isTimeOut() && !timeout->handleTimeOut())
                throw vmime::exceptions::operation_timed_out();
            if (socket->getStatus() & vmime::net::socket::STATUS_WANT_WRITE)
                socket->waitForWrite();
            else
                socket->waitForRead();
            continue;
        }
        if (timeout)
            timeout->resetTimeOut();
        data.append(chunk.data(), static_cast<qsizetype>(chunk.size()));

        if (bodyStart < 0) {
            const qsizetype lineEnd = data.indexOf('\n');
            if (lineEnd < 0)
                continue;
            const QByteArray first = data.left(lineEnd).trimmed();
            if (tracer)
                tracer->traceReceive(first.toStdString());
            if (!first.startsWith("+OK"))
                throw vmime::exceptions::command_error("RETR", first.toStdString());
            bodyStart = lineEnd + 1;
        }
        // An empty message ends right after the status line.
        const QByteArray body =
            QByteArray::fromRawData(data.constData() + bodyStart, data.size() - bodyStart);
        if (body == ".\r\n" || body.endsWith("\r\n.\r\n"))
            break;
    }
    if (tracer)
        tracer->traceReceiveBytes(static_cast<size_t>(data.size() - bodyStart));
    return unstuff(data.mid(bodyStart));
}
