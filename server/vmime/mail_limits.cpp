#include "server/vmime/mail_limits.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>

namespace mail_limits {

namespace {

// One line of at most max bytes. The memory grows with the line read, not
// with max: most lines are short, and a buffer of max bytes per line would
// cost more than the parse itself.
QByteArray readLine(QIODevice &mail, qint64 max)
{
    QByteArray line;
    char piece[4096];
    while (line.size() < max) {
        // readLine() stores a terminating NUL after at most wanted bytes.
        const qint64 wanted = qMin<qint64>(qint64(sizeof piece) - 1, max - line.size());
        const qint64 count = mail.readLine(piece, wanted + 1);
        if (count <= 0)
            break;
        line.append(piece, count);
        if (piece[count - 1] == '\n')
            break;
    }
    return line;
}

QByteArray withoutLineEnd(QByteArray line)
{
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

// The boundary a Content-Type value declares, empty when it is not a
// multipart; "-" stands for a multipart without one (vmime then takes the
// first "--" line it meets).
QByteArray multipartBoundary(const QByteArray &value)
{
    const QByteArray lower = value.toLower();
    const qsizetype type = lower.indexOf("multipart/");
    if (type < 0)
        return {};
    const qsizetype param = lower.indexOf("boundary", type);
    if (param < 0)
        return QByteArrayLiteral("-");
    qsizetype pos = lower.indexOf('=', param);
    if (pos < 0)
        return QByteArrayLiteral("-");
    ++pos;
    while (pos < value.size() && (value.at(pos) == ' ' || value.at(pos) == '\t'))
        ++pos;
    QByteArray boundary;
    if (pos < value.size() && value.at(pos) == '"') {
        const qsizetype end = value.indexOf('"', pos + 1);
        boundary = value.mid(pos + 1, end < 0 ? -1 : end - pos - 1);
    } else {
        qsizetype end = pos;
        while (end < value.size() && value.at(end) != ';' && value.at(end) != ' ' &&
               value.at(end) != '\t')
            ++end;
        boundary = value.mid(pos, end - pos);
    }
    return boundary.isEmpty() ? QByteArrayLiteral("-") : boundary;
}

// Reads one header block from the device; on return the device is past its
// blank line. Sets the multipart boundary it declares.
std::optional<QString> readHeader(QIODevice &mail, QByteArray &boundary)
{
    qint64 size = 0;
    int fields = 0;
    QByteArray contentType;
    bool inContentType = false;
    while (!mail.atEnd()) {
        const QByteArray line = readLine(mail, kTailleEntetes + 1);
        size += line.size();
        if (size > kTailleEntetes)
            return QStringLiteral("en-têtes de plus de %1 octets").arg(kTailleEntetes);
        const QByteArray bare = withoutLineEnd(line);
        if (bare.isEmpty())
            break;
        if (bare.startsWith(' ') || bare.startsWith('\t')) {
            if (inContentType)
                contentType += bare;
            continue;
        }
        if (++fields > kNombreEntetes)
            return QStringLiteral("plus de %1 en-têtes").arg(kNombreEntetes);
        const qsizetype colon = bare.indexOf(':');
        inContentType = colon > 0 && bare.left(colon).trimmed().toLower() == "content-type";
        if (inContentType)
            contentType = bare.mid(colon + 1);
    }
    boundary = multipartBoundary(contentType);
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> entete(QIODevice &mail)
{
    QByteArray head;
    int fields = 0;
    while (!mail.atEnd()) {
        const QByteArray line = readLine(mail, kTailleEntetes + 1);
        head += line;
        if (head.size() > kTailleEntetes)
            return std::nullopt;
        const QByteArray bare = withoutLineEnd(line);
        if (bare.isEmpty())
            break;
        if (!bare.startsWith(' ') && !bare.startsWith('\t') && ++fields > kNombreEntetes)
            return std::nullopt;
    }
    return head;
}

std::optional<QString> depassement(QIODevice &mail)
{
    // The boundaries of the multiparts open at this point, outermost first.
    QList<QByteArray> open;
    QByteArray boundary;
    if (auto reason = readHeader(mail, boundary))
        return reason;
    if (!boundary.isEmpty())
        open.append(boundary);
    int parts = 0;
    while (!mail.atEnd() && !open.isEmpty()) {
        // Body lines may be of any length: read them in bounded pieces; a
        // boundary is always at the start of a piece that starts a line.
        const QByteArray line = readLine(mail, 64 * 1024);
        if (!line.startsWith("--"))
            continue;
        const QByteArray bare = withoutLineEnd(line);
        if (open.last() == "-")
            open.last() = bare.mid(2).trimmed(); // vmime's guess
        // Innermost first: a boundary of an outer multipart closes the inner ones.
        qsizetype level = open.size() - 1;
        while (level >= 0 && !bare.startsWith("--" + open.at(level)))
            --level;
        if (level < 0)
            continue;
        open.resize(level + 1);
        if (bare.mid(2 + open.at(level).size()).startsWith("--")) {
            open.removeLast();
            continue;
        }
        if (++parts > kNombreParties)
            return QStringLiteral("plus de %1 parties MIME").arg(kNombreParties);
        if (auto reason = readHeader(mail, boundary))
            return reason;
        if (boundary.isEmpty())
            continue;
        open.append(boundary);
        if (open.size() > kProfondeurMime)
            return QStringLiteral("parties MIME imbriquées sur plus de %1 niveaux")
                .arg(kProfondeurMime);
    }
    return std::nullopt;
}

} // namespace mail_limits
