#include "server/vmime/mail_limits.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>

#include <vmime/contentTypeField.hpp>
#include <vmime/vmime.hpp>

#include <utility>

namespace mail_limits {

namespace {

// Body lines are read in pieces of this size at most.
constexpr qint64 kMorceau = 64 * 1024;

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

bool isBlank(char c) { return c == ' ' || c == '\t'; }
// What vmime calls a space when it reads a field name.
bool isSpace(char c) { return isBlank(c) || c == '\r' || c == '\n'; }

bool isLineEnd(const QByteArray &rest) { return rest == "\n" || rest == "\r\n"; }

qsizetype skipBlanks(const QByteArray &line, qsizetype pos)
{
    while (pos < line.size() && isBlank(line.at(pos)))
        ++pos;
    return pos;
}

// One header block as vmime's parser reads it, decided line by line:
// - a line that is only a line end ends the block;
// - after a field, a line that starts with a blank continues it, whatever
//   it holds, even blanks only;
// - elsewhere a line of blanks ends the block, and a line that starts with a
//   blank, or any line whose name is not followed by blanks and a colon, is
//   skipped;
// - the name of a field ends at its colon or at its first space.
// Only the first Content-Type counts for vmime: a block with two of them is
// refused, since a reader that kept the other would see another mail.
struct HeaderBlock {
    std::optional<QString> refus;
    bool tooLarge = false;   // beyond kTailleEntetes or kNombreEntetes
    QByteArray bytes;        // the block, its final line included
    QByteArray boundary;     // the multipart boundary it declares, empty when none
    QByteArray boundaryLine; // a boundary line that ended the block, not in bytes
};

// Where a boundary line of b ends in line, as vmime finds it: at the start of
// a line, "--", blanks, b, then CR, LF or "-". -1 when it is none.
qsizetype boundaryEnd(const QByteArray &line, const QByteArray &b)
{
    if (!line.startsWith("--"))
        return -1;
    for (qsizetype pos = 2;; ++pos) {
        const qsizetype end = pos + b.size();
        if (end < line.size() && line.mid(pos, b.size()) == b) {
            const char next = line.at(end);
            if (next == '\r' || next == '\n' || next == '-')
                return end;
        }
        if (pos >= line.size() || !isBlank(line.at(pos)))
            return -1;
    }
}

// One multipart open at this point of the scan.
struct Open {
    QByteArray boundary;
    bool delimited = false; // one of its boundary lines was seen
};

std::optional<QString> boundaryOf(const QByteArray &field, QByteArray &boundary)
{
    // vmime itself reads the field, so that parameters, quotes, comments and
    // continuations give the boundary its parser will search for.
    try {
        const vmime::string text(field.constData(), static_cast<size_t>(field.size()));
        const auto parsed = vmime::headerField::parseNext(
            vmime::parsingContext::getDefaultContext(), text, 0, text.size());
        const auto contentType = vmime::dynamicCast<vmime::contentTypeField>(parsed);
        if (!contentType)
            return std::nullopt;
        const auto type = contentType->getValue<vmime::mediaType>();
        if (!type || type->getType() != vmime::mediaTypes::MULTIPART)
            return std::nullopt;
        // Without the parameter vmime guesses the boundary from the body.
        if (!contentType->hasBoundary())
            return QStringLiteral("partie multipart sans séparation déclarée");
        const vmime::string value = contentType->getBoundary();
        boundary = QByteArray(value.data(), static_cast<qsizetype>(value.size()));
    } catch (const std::exception &) {
        return std::nullopt; // the parser then reads no multipart either
    }
    if (boundary.size() > kTailleSeparation)
        return QStringLiteral("séparation MIME de plus de %1 octets").arg(kTailleSeparation);
    return std::nullopt;
}

// The level of the outermost multipart whose boundary line this is, -1 when none.
qsizetype boundaryLevel(const QByteArray &line, const QList<Open> &open, qsizetype &end)
{
    // Outermost first: vmime cuts a multipart at its own boundaries before it
    // looks inside the parts.
    for (qsizetype level = 0; level < open.size(); ++level) {
        end = boundaryEnd(line, open.at(level).boundary);
        if (end >= 0)
            return level;
    }
    return -1;
}

// A part's header ends where its part does, at the next boundary line of any
// multipart open around it.
HeaderBlock readHeader(QIODevice &mail, const QList<Open> &open = {})
{
    HeaderBlock block;
    int lines = 0;
    int contentTypes = 0;
    bool afterField = false;
    bool inContentType = false;
    QByteArray contentType;
    while (!mail.atEnd()) {
        const QByteArray line = readLine(mail, kTailleEntetes + 1);
        qsizetype ignored = -1;
        if (boundaryLevel(line, open, ignored) >= 0) {
            block.boundaryLine = line;
            break;
        }
        block.bytes += line;
        if (block.bytes.size() > kTailleEntetes) {
            block.tooLarge = true;
            block.refus = QStringLiteral("en-têtes de plus de %1 octets").arg(kTailleEntetes);
            return block;
        }
        if (isLineEnd(line))
            break;
        if (afterField && isBlank(line.at(0))) {
            if (inContentType)
                contentType += line;
            continue;
        }
        afterField = inContentType = false;
        if (++lines > kNombreEntetes) {
            block.tooLarge = true;
            block.refus = QStringLiteral("plus de %1 en-têtes").arg(kNombreEntetes);
            return block;
        }
        if (isSpace(line.at(0))) {
            if (isBlank(line.at(0)) && isLineEnd(line.mid(skipBlanks(line, 0))))
                break;
            continue;
        }
        qsizetype end = 0;
        while (end < line.size() && line.at(end) != ':' && !isSpace(line.at(end)))
            ++end;
        const qsizetype colon = skipBlanks(line, end);
        if (colon >= line.size() || line.at(colon) != ':')
            continue;
        afterField = true;
        inContentType = line.left(end).compare("Content-Type", Qt::CaseInsensitive) == 0;
        if (inContentType) {
            ++contentTypes;
            contentType = line;
        }
    }
    if (contentTypes > 1)
        block.refus =
            QStringLiteral("%1 en-têtes Content-Type dans un même bloc").arg(contentTypes);
    else if (contentTypes == 1)
        block.refus = boundaryOf(contentType, block.boundary);
    return block;
}

} // namespace

std::optional<QByteArray> entete(QIODevice &mail)
{
    // A refusal about the Content-Type leaves the block itself readable.
    const HeaderBlock block = readHeader(mail);
    if (block.tooLarge)
        return std::nullopt;
    return block.bytes;
}

std::optional<QString> depassement(QIODevice &mail)
{
    // The multiparts open at this point, outermost first.
    QList<Open> open;
    HeaderBlock block = readHeader(mail);
    if (block.refus)
        return block.refus;
    if (!block.boundary.isEmpty())
        open.append({block.boundary});
    int parts = 0;
    bool lineStart = true;
    const auto undelimited = [&open](qsizetype from) -> std::optional<QString> {
        // vmime reads a multipart that has no boundary line as a part of its
        // own, header and all, which this scan does not follow.
        for (qsizetype i = from; i < open.size(); ++i)
            if (!open.at(i).delimited)
                return QStringLiteral("partie multipart sans ligne de séparation");
        return std::nullopt;
    };
    QByteArray pending;
    while ((!pending.isEmpty() || !mail.atEnd()) && !open.isEmpty()) {
        QByteArray line;
        bool startsLine = true;
        if (pending.isEmpty()) {
            line = readLine(mail, kMorceau);
            startsLine = lineStart;
            lineStart = line.endsWith('\n');
        } else {
            line = std::exchange(pending, {});
            lineStart = line.endsWith('\n');
        }
        if (!startsLine || !line.startsWith("--"))
            continue;
        // A line longer than a piece: a boundary must lie whole within it.
        if (!lineStart && line.size() >= kMorceau &&
            skipBlanks(line, 2) + kTailleSeparation + 1 >= line.size())
            return QStringLiteral("ligne de séparation MIME de plus de %1 octets").arg(kMorceau);
        qsizetype end = -1;
        const qsizetype level = boundaryLevel(line, open, end);
        if (level < 0)
            continue;
        if (auto reason = undelimited(level + 1))
            return reason;
        open.resize(level + 1);
        open.last().delimited = true;
        if (line.mid(end, 2) == "--") {
            open.removeLast(); // what follows is its epilogue
            continue;
        }
        // vmime starts the part right after the boundary and its blanks: the
        // rest of the line would be read as a header line.
        if (!isLineEnd(line.mid(skipBlanks(line, end))))
            return QStringLiteral("ligne de séparation MIME suivie d'autres caractères");
        if (++parts > kNombreParties)
            return QStringLiteral("plus de %1 parties MIME").arg(kNombreParties);
        block = readHeader(mail, open);
        if (block.refus)
            return block.refus;
        pending = block.boundaryLine;
        if (block.boundary.isEmpty())
            continue;
        open.append({block.boundary});
        if (open.size() > kProfondeurMime)
            return QStringLiteral("parties MIME imbriquées sur plus de %1 niveaux")
                .arg(kProfondeurMime);
    }
    return undelimited(0);
}

} // namespace mail_limits
