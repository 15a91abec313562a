#include "server/mail/sender_address.h"

#include <QStringDecoder>
#include <QUrl>

namespace {

constexpr qsizetype kLocalPartMax = 64;
constexpr qsizetype kAddressMax = 254;

bool isAtext(char c)
{
    static const QByteArray specials("!#$%&'*+-/=?^_`{|}~");
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           specials.contains(c) || u >= 0x80; // 8-bit: an internationalised local part
}

bool isDotAtom(const QByteArray &text)
{
    if (text.isEmpty() || text.startsWith('.') || text.endsWith('.') || text.contains(".."))
        return false;
    for (char c : text) {
        if (c != '.' && !isAtext(c))
            return false;
    }
    return true;
}

// The value without its comments and with quoted strings kept whole; the
// first top-level mailbox (up to a comma outside quotes), and within it what
// the angle brackets hold when there are some.
QByteArray firstAddrSpec(const QByteArray &value)
{
    QByteArray plain;
    QByteArray angle;
    bool inAngle = false;
    bool angleSeen = false;
    int depth = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        QByteArray &out = inAngle ? angle : plain;
        if (quoted) {
            out += c;
            if (c == '\\' && i + 1 < value.size())
                out += value.at(++i);
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (depth > 0) {
            if (c == '\\')
                ++i;
            else if (c == '(')
                ++depth;
            else if (c == ')')
                --depth;
            continue;
        }
        if (c == '(') {
            ++depth;
            out += ' ';
        } else if (c == '"') {
            quoted = true;
            out += c;
        } else if (c == '<' && !inAngle && !angleSeen) {
            inAngle = true;
            angleSeen = true;
        } else if (c == '>' && inAngle) {
            inAngle = false;
        } else if (c == ',' && !inAngle) {
            break;
        } else {
            out += c;
        }
    }
    QByteArray spec = (angleSeen ? angle : plain).trimmed();
    // An obsolete source route ("@relay:user@host") names relays, not the sender.
    if (spec.startsWith('@') && spec.contains(':'))
        spec = spec.mid(spec.indexOf(':') + 1).trimmed();
    return spec;
}

bool isLdhLabel(const QString &label)
{
    if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
        return false;
    for (QChar c : label) {
        if (!(c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-'))
            return false;
    }
    return true;
}

QString invalid(const QString &why)
{
    return QStringLiteral("adresse de l'expéditeur non valide (%1)").arg(why);
}

// The local part as its owner means it (quotes and quoted pairs undone) and the
// position of the "@" that ends it; false when the addr-spec has no such form.
bool readLocalPart(const QByteArray &spec, QByteArray &local, qsizetype &at)
{
    if (!spec.startsWith('"')) {
        at = spec.lastIndexOf('@');
        local = spec.left(at);
        return at > 0 && isDotAtom(local);
    }
    for (qsizetype i = 1; i < spec.size(); ++i) {
        const char c = spec.at(i);
        if (c == '\\' && i + 1 < spec.size()) {
            local += spec.at(++i);
        } else if (c == '"') {
            at = i + 1;
            return at < spec.size() && spec.at(at) == '@';
        } else {
            local += c;
        }
    }
    return false; // the quote is never closed
}

// Why the unquoted local part cannot go into an envelope; empty when it can.
QString localPartProblem(const QByteArray &local, const QString &shown)
{
    for (char c : local) {
        // Control characters (line breaks above all) never go into an envelope.
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return invalid(QStringLiteral("caractère de contrôle"));
    }
    if (local.isEmpty() || local.size() > kLocalPartMax)
        return invalid(shown);
    return {};
}

// The domain in ASCII (IDNA for a name, a literal kept as it is); empty when
// it names no host that a reply could reach.
QString asciiDomain(const QByteArray &domainBytes)
{
    if (domainBytes.startsWith('[') && domainBytes.endsWith(']')) {
        const QString literal = QString::fromLatin1(domainBytes);
        for (QChar c : literal.mid(1, literal.size() - 2)) {
            if (!(c.isLetterOrNumber() || c == u'.' || c == u':'))
                return {};
        }
        return literal;
    }
    const QString domain = QString::fromLatin1(QUrl::toAce(QString::fromUtf8(domainBytes)));
    const QStringList labels = domain.split(u'.');
    bool ok = labels.size() >= 2;
    for (const QString &label : labels)
        ok = ok && isLdhLabel(label);
    ok = ok && !labels.last().front().isDigit();
    // RFC 2606 keeps "invalid" for addresses that reach nobody.
    if (!ok || labels.last().compare(QLatin1String("invalid"), Qt::CaseInsensitive) == 0)
        return {};
    return domain;
}

// The local part in its plainest form: as it is when it is a dot-atom, else
// quoted once, with a backslash before each quote and backslash.
QString quotedLocalPart(const QByteArray &local, const QString &text)
{
    if (isDotAtom(local))
        return text;
    QString escaped = text;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + escaped + u'"';
}

} // namespace

SenderAddress sender_address(const QByteArray &headerValue)
{
    SenderAddress result;
    const QByteArray spec = firstAddrSpec(headerValue);
    if (spec.isEmpty()) {
        result.raison = QStringLiteral("aucune adresse d'expéditeur");
        return result;
    }
    const QString shown = QString::fromUtf8(spec).left(80);
    // An undecoded RFC 2047 word is a display name read as an address.
    if (spec.contains("=?") && spec.contains("?=")) {
        result.raison = invalid(QStringLiteral("mot encodé RFC 2047 : ") + shown);
        return result;
    }

    QByteArray local;
    qsizetype at = -1;
    if (!readLocalPart(spec, local, at)) {
        result.raison = invalid(shown);
        return result;
    }
    result.raison = localPartProblem(local, shown);
    if (!result.raison.isEmpty())
        return result;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString localText = utf8.decode(local);
    if (utf8.hasError()) {
        result.raison = invalid(QStringLiteral("octets non UTF-8"));
        return result;
    }

    const QString domain = asciiDomain(spec.mid(at + 1).trimmed());
    if (domain.isEmpty()) {
        result.raison = invalid(QStringLiteral("domaine : ") + shown);
        return result;
    }

    const QString address = quotedLocalPart(local, localText) + u'@' + domain;
    if (address.toUtf8().size() > kAddressMax) {
        result.raison = invalid(QStringLiteral("trop longue"));
        return result;
    }
    result.address = address;
    return result;
}

AddrSpecParts split_addr_spec(const QString &addrSpec)
{
    AddrSpecParts parts;
    // A domain holds no "@"; a quoted local part may.
    const qsizetype at = addrSpec.lastIndexOf(u'@');
    parts.domain = addrSpec.mid(at + 1);
    const QString local = addrSpec.left(qMax<qsizetype>(at, 0));
    if (!(local.size() >= 2 && local.startsWith(u'"') && local.endsWith(u'"'))) {
        parts.localPart = local;
        return parts;
    }
    for (qsizetype i = 1; i + 1 < local.size(); ++i) {
        if (local.at(i) == u'\\' && i + 2 < local.size())
            ++i;
        parts.localPart += local.at(i);
    }
    return parts;
}
