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
    if (spec.startsWith('"')) {
        qsizetype i = 1;
        bool closed = false;
        for (; i < spec.size(); ++i) {
            const char c = spec.at(i);
            if (c == '\\' && i + 1 < spec.size()) {
                local += spec.at(++i);
            } else if (c == '"') {
                closed = true;
                break;
            } else {
                local += c;
            }
        }
        if (!closed || i + 1 >= spec.size() || spec.at(i + 1) != '@') {
            result.raison = invalid(shown);
            return result;
        }
        at = i + 1;
    } else {
        at = spec.lastIndexOf('@');
        local = spec.left(at);
        if (at <= 0 || !isDotAtom(local)) {
            result.raison = invalid(shown);
            return result;
        }
    }
    for (char c : local) {
        // Control characters (line breaks above all) never go into an envelope.
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            result.raison = invalid(QStringLiteral("caractère de contrôle"));
            return result;
        }
    }
    if (local.isEmpty() || local.size() > kLocalPartMax) {
        result.raison = invalid(shown);
        return result;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString localText = utf8.decode(local);
    if (utf8.hasError()) {
        result.raison = invalid(QStringLiteral("octets non UTF-8"));
        return result;
    }

    const QByteArray domainBytes = spec.mid(at + 1).trimmed();
    QString domain;
    if (domainBytes.startsWith('[') && domainBytes.endsWith(']')) {
        domain = QString::fromLatin1(domainBytes);
        for (QChar c : domain.mid(1, domain.size() - 2)) {
            if (!(c.isLetterOrNumber() || c == u'.' || c == u':'))
                domain.clear();
        }
    } else {
        domain = QString::fromLatin1(QUrl::toAce(QString::fromUtf8(domainBytes)));
        const QStringList labels = domain.split(u'.');
        bool ok = labels.size() >= 2;
        for (const QString &label : labels)
            ok = ok && isLdhLabel(label);
        ok = ok && !labels.last().front().isDigit();
        // RFC 2606 keeps "invalid" for addresses that reach nobody.
        if (!ok || labels.last().compare(QLatin1String("invalid"), Qt::CaseInsensitive) == 0)
            domain.clear();
    }
    if (domain.isEmpty()) {
        result.raison = invalid(QStringLiteral("domaine : ") + shown);
        return result;
    }

    QString address;
    if (isDotAtom(local)) {
        address = localText;
    } else {
        QString escaped = localText;
        escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
        address = u'"' + escaped + u'"';
    }
    address += u'@' + domain;
    if (address.toUtf8().size() > kAddressMax) {
        result.raison = invalid(QStringLiteral("trop longue"));
        return result;
    }
    result.address = address;
    return result;
}
