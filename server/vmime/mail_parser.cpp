#include "server/vmime/mail_parser.h"

#include "server/mail/reply_mail.h"
#include "server/mail/sender_address.h"
#include "server/vmime/mail_html_text.h"
#include "server/vmime/mail_limits.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QStringDecoder>

#include <vmime/vmime.hpp>

#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>

namespace {

// The line that starts at pos, without its line end; pos moves to the next one.
QByteArray takeLine(const QByteArray &raw, qsizetype &pos)
{
    qsizetype end = raw.indexOf('\n', pos);
    if (end < 0)
        end = raw.size();
    QByteArray line = raw.mid(pos, end - pos);
    if (line.endsWith('\r'))
        line.chop(1);
    pos = end + 1;
    return line;
}

// The value of the first header field of that name, unfolded, without the
// blank that conventionally follows the colon. vmime trims values, which
// would lose the blanks a subject was received with.
std::optional<QByteArray> rawHeaderValue(const QByteArray &raw, const QByteArray &name)
{
    qsizetype pos = 0;
    while (pos < raw.size()) {
        const QByteArray line = takeLine(raw, pos);
        if (line.isEmpty())
            return std::nullopt; // end of the header block
        const qsizetype colon = line.indexOf(':');
        const bool continuation = line.startsWith(' ') || line.startsWith('\t');
        if (!continuation && colon > 0 &&
            line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            QByteArray value = line.mid(colon + 1);
            // Folded lines: the line break goes, the blank that starts the next line stays.
            while (pos < raw.size() && (raw.at(pos) == ' ' || raw.at(pos) == '\t'))
                value += takeLine(raw, pos);
            if (value.startsWith(' '))
                value.remove(0, 1);
            return value;
        }
    }
    return std::nullopt;
}

QString fromUtf8(const vmime::string &s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Unencoded 8-bit text in a header: UTF-8 when it is valid UTF-8, which is
// what mail programs write today, else Latin-1, which every byte is.
QString headerText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

QString decodeWord(const QByteArray &word)
{
    try {
        const vmime::shared_ptr<vmime::text> text = vmime::text::decodeAndUnfold(
            vmime::string(word.constData(), static_cast<size_t>(word.size())));
        return fromUtf8(text->getConvertedText(vmime::charsets::UTF_8));
    } catch (const std::exception &) {
        return QString::fromLatin1(word);
    }
}

// RFC 2047 words decoded from any charset, the blanks between two words
// dropped as the RFC says, every other byte kept as received.
QString decodeWords(const QByteArray &value)
{
    static const QRegularExpression word(QStringLiteral("=\\?[^?\\s]+\\?[bBqQ]\\?[^?\\s]*\\?="));
    QString decoded;
    qsizetype pos = 0;
    bool afterWord = false;
    auto it = word.globalMatch(QString::fromLatin1(value));
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QByteArray between = value.mid(pos, match.capturedStart() - pos);
        const bool blanksOnly = between.trimmed().isEmpty();
        if (!(afterWord && blanksOnly))
            decoded += headerText(between);
        decoded += decodeWord(match.captured().toLatin1());
        afterWord = true;
        pos = match.capturedEnd();
    }
    return decoded + headerText(value.mid(pos));
}

vmime::mediaType contentType(const vmime::shared_ptr<const vmime::header> &header)
{
    try {
        const auto field = header->findField(vmime::fields::CONTENT_TYPE);
        if (field) {
            if (const auto type = vmime::dynamicCast<const vmime::mediaType>(field->getValue()))
                return *type;
        }
    } catch (const std::exception &) {
    }
    return vmime::mediaType(vmime::mediaTypes::TEXT, vmime::mediaTypes::TEXT_PLAIN);
}

bool isAttachment(const vmime::shared_ptr<const vmime::header> &header)
{
    try {
        const auto field = header->findField(vmime::fields::CONTENT_DISPOSITION);
        if (!field)
            return false;
        const auto value = vmime::dynamicCast<const vmime::contentDisposition>(field->getValue());
        return value && value->getName() == vmime::contentDispositionTypes::ATTACHMENT;
    } catch (const std::exception &) {
        return false;
    }
}

// Depth first, in the order of the mail, the first leaf part of that type
// that is shown inline.
vmime::shared_ptr<const vmime::bodyPart>
findPart(const vmime::shared_ptr<const vmime::bodyPart> &part, const vmime::string &subType)
{
    const auto body = part->getBody();
    if (body->getPartCount() > 0) {
        for (size_t i = 0; i < body->getPartCount(); ++i) {
            if (auto found = findPart(body->getPartAt(i), subType))
                return found;
        }
        return nullptr;
    }
    const vmime::mediaType type = contentType(part->getHeader());
    if (type.getType() == vmime::mediaTypes::TEXT && type.getSubType() == subType &&
        !isAttachment(part->getHeader()))
        return part;
    return nullptr;
}

// Keeps the first bytes written and then stops the writer: a body of many
// megabytes is never decoded whole.
class BoundedOutput : public vmime::utility::outputStream
{
public:
    struct Full {
    };

    BoundedOutput(vmime::string &bytes, size_t limit) : m_bytes(bytes), m_limit(limit) {}
    void flush() override {}

protected:
    void writeImpl(const vmime::byte_t *const data, const size_t count) override
    {
        const size_t room = m_limit - m_bytes.size();
        m_bytes.append(reinterpret_cast<const char *>(data), std::min(count, room));
        if (count >= room)
            throw Full{};
    }

private:
    vmime::string &m_bytes;
    size_t m_limit;
};

QString decodedText(const vmime::shared_ptr<const vmime::bodyPart> &part)
{
    vmime::string bytes;
    try {
        BoundedOutput out(bytes, static_cast<size_t>(mail_limits::kTailleCorps));
        part->getBody()->getContents()->extract(out);
    } catch (const BoundedOutput::Full &) {
    } catch (const std::exception &) {
        return {};
    }
    vmime::charset charset = vmime::charsets::US_ASCII;
    try {
        charset = part->getBody()->getCharset();
    } catch (const std::exception &) {
    }
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const QString name = QString::fromStdString(charset.getName()).toLower();
    // US-ASCII labels are often wrong about 8-bit text; UTF-8 is the likely truth.
    if (name == QLatin1String("utf-8") || name == QLatin1String("us-ascii") || name.isEmpty())
        return QString::fromUtf8(data);
    try {
        vmime::string utf8;
        vmime::charset::convert(bytes, utf8, charset, vmime::charsets::UTF_8);
        return fromUtf8(utf8);
    } catch (const std::exception &) {
        return QString::fromLatin1(data);
    }
}

QString withCrLf(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

// What shows that a machine sent the mail (RFC 3834 and the habits of list
// managers, auto-responders and Exchange); empty for a person's mail.
QString automaticReason(const QByteArray &raw, const vmime::mediaType &type, const QString &sender)
{
    const auto shown = [](const char *name, const QByteArray &value) {
        return QStringLiteral("%1: %2").arg(QLatin1String(name),
                                            headerText(value.trimmed().left(60)));
    };
    if (const auto autoSubmitted = rawHeaderValue(raw, "Auto-Submitted")) {
        const QByteArray value = autoSubmitted->split(';').first().trimmed().toLower();
        if (value != "no")
            return shown("Auto-Submitted", *autoSubmitted);
    }
    if (const auto precedence = rawHeaderValue(raw, "Precedence")) {
        const QByteArray value = precedence->trimmed().toLower();
        if (value == "bulk" || value == "junk" || value == "list")
            return shown("Precedence", *precedence);
    }
    if (const auto returnPath = rawHeaderValue(raw, "Return-Path")) {
        QByteArray value = *returnPath;
        value.replace(' ', "").replace('\t', "");
        if (value == "<>")
            return QStringLiteral("Return-Path: <>");
    }
    for (const char *name : {"List-Id", "List-Unsubscribe", "X-Autoreply", "X-Autorespond"}) {
        if (const auto value = rawHeaderValue(raw, name))
            return shown(name, *value);
    }
    if (const auto suppress = rawHeaderValue(raw, "X-Auto-Response-Suppress")) {
        for (const QByteArray &item : suppress->split(',')) {
            const QByteArray value = item.trimmed().toLower();
            if (value == "all" || value == "autoreply" || value == "oof")
                return shown("X-Auto-Response-Suppress", *suppress);
        }
    }
    // Bounces whose Return-Path was not kept as empty on the way.
    const QString local = sender.left(sender.lastIndexOf(u'@'));
    if (local.compare(QLatin1String("MAILER-DAEMON"), Qt::CaseInsensitive) == 0 ||
        local.compare(QLatin1String("postmaster"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("From: ") + sender;
    if (type.getType() == vmime::mediaTypes::MULTIPART && type.getSubType() == "report")
        return QStringLiteral("Content-Type: multipart/report");
    return {};
}

vmime::shared_ptr<vmime::message> parsed(const QByteArray &raw)
{
    auto message = vmime::make_shared<vmime::message>();
    message->parse(vmime::string(raw.constData(), static_cast<size_t>(raw.size())));
    return message;
}

} // namespace

namespace {

// What the server reads of a mail, from its header block and the parsed message.
Pop3Message readMail(const QByteArray &raw,
                     const std::function<vmime::shared_ptr<vmime::message>()> &parse)
{
    Pop3Message mail;
    if (const auto subject = rawHeaderValue(raw, "Subject"))
        mail.Subject = decodeWords(*subject);
    // The first of these present names the sender; a bad From is not mended
    // with another header's address.
    mail.NoAddressReason = QStringLiteral("aucune adresse d'expéditeur");
    for (const char *name : {"From", "Sender", "Return-Path"}) {
        if (const auto value = rawHeaderValue(raw, name)) {
            const SenderAddress sender = sender_address(*value);
            mail.Sender.Address = sender.address;
            mail.NoAddressReason = sender.raison;
            if (qstrcmp(name, "From") == 0 && sender.isValid())
                mail.FromDomain = sender.address.mid(sender.address.lastIndexOf(u'@') + 1);
            break;
        }
    }
    // The first one from the top is the receiving server's own.
    if (const auto results = rawHeaderValue(raw, "Authentication-Results"))
        mail.AuthenticationResults = *results;
    if (const auto id = rawHeaderValue(raw, "Message-ID"))
        mail.MessageId = message_ids(*id).value(0);
    if (const auto references = rawHeaderValue(raw, "References"))
        mail.References = message_ids(*references);
    vmime::mediaType type;
    try {
        const auto message = parse();
        type = contentType(message->getHeader());
        if (const auto plain = findPart(message, vmime::mediaTypes::TEXT_PLAIN))
            mail.Body = withCrLf(decodedText(plain));
        else if (const auto html = findPart(message, vmime::mediaTypes::TEXT_HTML))
            mail.Body = html_to_text(decodedText(html));
    } catch (const std::exception &) {
    }
    mail.AutomaticReason = automaticReason(raw, type, mail.Sender.Address);
    mail.Automatic = !mail.AutomaticReason.isEmpty();
    return mail;
}

} // namespace

Pop3Message parse_mail(const QByteArray &raw)
{
    Pop3Message mail = readMail(raw, [&raw] { return parsed(raw); });
    mail.Raw = raw;
    return mail;
}

Pop3Message parse_mail_file(const QString &path, const QByteArray &head)
{
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    const auto size = static_cast<size_t>(QFileInfo(path).size());
    // Seekable: vmime leaves the bodies in the file and reads them on demand.
    const auto stream = vmime::make_shared<vmime::utility::inputStreamAdapter>(in);
    return readMail(head, [&] {
        if (!in)
            throw std::runtime_error("mail file unreadable");
        auto message = vmime::make_shared<vmime::message>();
        message->parse(stream, size);
        return message;
    });
}

Pop3Message parse_mail_head(const QByteArray &head)
{
    return readMail(head, [&head] {
        auto message = vmime::make_shared<vmime::message>();
        if (const auto type = rawHeaderValue(head, "Content-Type")) {
            auto field =
                vmime::headerFieldFactory::getInstance()->create(vmime::fields::CONTENT_TYPE);
            field->parse(vmime::string(type->constData(), static_cast<size_t>(type->size())));
            message->getHeader()->appendField(field);
        }
        return message;
    });
}

QString mail_html_part(const QByteArray &raw)
{
    try {
        if (const auto html = findPart(parsed(raw), vmime::mediaTypes::TEXT_HTML))
            return decodedText(html);
    } catch (const std::exception &) {
    }
    return {};
}
