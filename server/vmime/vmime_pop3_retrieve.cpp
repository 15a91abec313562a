#include "server/vmime/vmime_pop3_retrieve.h"

#include "server/vmime/mail_limits.h"
#include "server/vmime/vmime_guarded_socket.h"

#include <QByteArray>
#include <QIODevice>

#include <vmime/net/pop3/POP3Command.hpp>
#include <vmime/net/pop3/POP3Connection.hpp>
#include <vmime/net/pop3/POP3Store.hpp>
#include <vmime/vmime.hpp>

namespace {

// Undoes dot-stuffing on a stream of chunks, holding back only what it needs
// to judge the start of a line, so that no line is ever kept whole.
class Unstuffer
{
public:
    Unstuffer(QIODevice &out, qint64 maxSize, SocketGuard &guard)
        : m_out(out), m_maxSize(maxSize), m_guard(guard)
    {
    }

    // True once the lone "." that ends the message has come. What a chunk
    // brings goes to the file in one write, not line by line.
    bool feed(QByteArray data)
    {
        if (!m_pending.isEmpty()) {
            data.prepend(m_pending);
            m_pending.clear();
        }
        m_chunk.clear();
        const bool fin = unstuff(data);
        if (m_out.write(m_chunk) != m_chunk.size())
            m_guard.fail(
                {MailError::ArchiveFailed,
                 QStringLiteral("Écriture du message impossible : ") + m_out.errorString()});
        return fin;
    }

    qint64 written() const { return m_written; }

private:
    bool unstuff(const QByteArray &data)
    {
        qsizetype pos = 0;
        while (pos < data.size()) {
            if (m_lineStart && data.at(pos) == '.') {
                const QByteArray start = data.mid(pos, 3);
                if (start == ".\r\n" || start.startsWith(".\n"))
                    return true;
                if (start.size() < 3 && !start.contains('\n')) {
                    m_pending = start; // ".", ".\r": wait for the rest
                    return false;
                }
                ++pos; // the stuffed dot
            }
            const qsizetype newline = data.indexOf('\n', pos);
            const qsizetype end = newline < 0 ? data.size() : newline + 1;
            keep(data.constData() + pos, end - pos);
            m_lineStart = newline >= 0;
            pos = end;
        }
        return false;
    }

    void keep(const char *bytes, qint64 size)
    {
        m_written += size;
        if (m_maxSize > 0 && m_written > m_maxSize)
            m_guard.fail({MailError::TooLarge,
                          QStringLiteral("Message plus grand que la limite de %1 octets, "
                                         "lecture arrêtée")
                              .arg(m_maxSize)});
        m_chunk.append(bytes, size);
    }

    QIODevice &m_out;
    qint64 m_maxSize;
    SocketGuard &m_guard;
    QByteArray m_pending;
    QByteArray m_chunk; // this chunk's lines, unstuffed
    bool m_lineStart = true;
    qint64 m_written = 0;
};

} // namespace

qint64 vmime_pop3_retrieve(const vmime::shared_ptr<vmime::net::store> &store, size_t number,
                           QIODevice &out, qint64 maxSize, SocketGuard &guard)
{
    const auto pop3 = vmime::dynamicCast<vmime::net::pop3::POP3Store>(store);
    if (!pop3 || !pop3->isConnected())
        throw vmime::exceptions::not_connected();
    const auto connection = pop3->getConnection();
    const auto socket = connection->getSocket();
    const auto timeout = connection->getTimeoutHandler();
    const auto tracer = connection->getTracer();

    // The message may be as long as the limit, plus stuffing and TLS framing;
    // the usual bound comes back whatever happens.
    struct AnswerLimit {
        SocketGuard &guard;
        const qint64 usual = guard.answerLimit();
        ~AnswerLimit() { guard.setAnswerLimit(usual); }
    } restore{guard};
    guard.setAnswerLimit(maxSize > 0 ? maxSize + maxSize / 8 + mail_limits::kTailleReponse : 0);
    vmime::net::pop3::POP3Command::RETR(number)->send(connection);
    if (timeout)
        timeout->resetTimeOut();

    QByteArray status;
    Unstuffer unstuffer(out, maxSize, guard);
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
        QByteArray data(chunk.data(), static_cast<qsizetype>(chunk.size()));
        chunk = vmime::string();

        if (status.isNull() || !status.endsWith('\n')) {
            const qsizetype lineEnd = data.indexOf('\n');
            status += data.left(lineEnd < 0 ? data.size() : lineEnd + 1);
            if (status.size() > mail_limits::kTailleLigneStatut)
                guard.fail(
                    {MailError::TooLong,
                     QStringLiteral("Ligne d'état du serveur trop longue, session terminée")});
            if (lineEnd < 0)
                continue;
            const QByteArray first = status.trimmed();
            if (tracer)
                tracer->traceReceive(first.toStdString());
            if (!first.startsWith("+OK"))
                throw vmime::exceptions::command_error("RETR", first.toStdString());
            data.remove(0, lineEnd + 1);
        }
        if (unstuffer.feed(std::move(data)))
            break;
    }
    if (tracer)
        tracer->traceReceiveBytes(static_cast<size_t>(unstuffer.written()));
    return unstuffer.written();
}
