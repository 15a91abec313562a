#include "server/mail/reply_mail.h"

#include "server/mail/mail_reply_html.h"

#include <QRegularExpression>
#include <QStringEncoder>
#include <QUrl>
#include <QUuid>

namespace {

const QByteArray kCrLf("\r\n");
// References grow with every exchange; the oldest and the newest ids are the
// ones mail programs thread by.
constexpr qsizetype kReferencesKept = 10;
constexpr qsizetype kMessageIdMax = 250;
// Header lines are folded before this width where blanks allow it.
constexpr qsizetype kFoldWidth = 78;
// Bytes of UTF-8 per encoded word: its base64 keeps the word within 75 characters.
constexpr qsizetype kWordBytes = 45;

QUuid::StringFormat idFormat() { return QUuid::Id128; }

QByteArray domainOf(const QString &address)
{
    const qsizetype at = address.lastIndexOf(u'@');
    const QString domain = at >= 0 ? address.mid(at + 1).trimmed() : QString();
    const QByteArray ace = QUrl::toAce(domain);
    return ace.isEmpty() ? QByteArray("localhost") : ace;
}

bool isPrintableAscii(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

// Folds "Name: value" before blanks so that lines stay short; unfolding gives
// the value back exactly, since only the CR LF is removed.
QByteArray foldedField(const QByteArray &name, const QByteArray &value)
{
    QByteArray out = name + ": ";
    qsizetype lineLength = out.size();
    qsizetype pos = 0;
    while (pos < value.size()) {
        // The next chunk: up to the next blank after at least one character.
        qsizetype next = value.indexOf(' ', pos + 1);
        if (next < 0)
            next = value.size();
        const QByteArray chunk = value.mid(pos, next - pos);
        if (lineLength + chunk.size() > kFoldWidth && pos > 0 && chunk.startsWith(' ')) {
            out += kCrLf;
            lineLength = 0;
        }
        out += chunk;
        lineLength += chunk.size();
        pos = next;
    }
    return out + kCrLf;
}

// RFC 2047 "B" words of UTF-8, cut between characters, one per folded line;
// decoders join adjacent words without the blanks between them.
QByteArray encodedWordsField(const QByteArray &name, const QString &text)
{
    QList<QByteArray> words;
    QByteArray current;
    const QList<uint> points = text.toUcs4();
    for (uint point : points) {
        const char32_t one[] = {static_cast<char32_t>(point)};
        const QByteArray bytes = QString::fromUcs4(one, 1).toUtf8();
        if (current.size() + bytes.size() > kWordBytes) {
            words.append(current);
            current.clear();
        }
        current += bytes;
    }
    if (!current.isEmpty() || words.isEmpty())
        words.append(current);
    QByteArray out = name + ": ";
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (i > 0)
            out += kCrLf + ' ';
        out += "=?UTF-8?B?" + words.at(i).toBase64() + "?=";
    }
    return out + kCrLf;
}

QByteArray unstructuredField(const QByteArray &name, const QString &text)
{
    // Plain text unless it could not travel or be read back as such: 8-bit,
    // control characters, what looks like an encoded word, or a run of
    // characters too long for one line.
    static const QRegularExpression longRun(QStringLiteral("[^ ]{900}"));
    if (isPrintableAscii(text) && !text.contains(QLatin1String("=?")) && !text.contains(longRun))
        return foldedField(name, text.toLatin1());
    return encodedWordsField(name, text);
}

// Quoted-printable with CR LF line ends: every source line break, whatever
// its form, becomes one CR LF; lines are cut by soft breaks before 76.
QByteArray quotedPrintable(const QByteArray &bytes)
{
    QByteArray normalised = bytes;
    normalised.replace("\r\n", "\n").replace('\r', '\n');
    QByteArray out;
    const QList<QByteArray> lines = normalised.split('\n');
    for (qsizetype l = 0; l < lines.size(); ++l) {
        const QByteArray &line = lines.at(l);
        qsizetype width = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line.at(i));
            const bool last = i + 1 == line.size();
            QByteArray piece;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
                piece = QByteArray(1, static_cast<char>(c));
            else
                piece = '=' + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
            if (width + piece.size() > 75) {
                out += "=" + kCrLf;
                width = 0;
            }
            out += piece;
            width += piece.size();
        }
        if (l + 1 < lines.size())
            out += kCrLf;
    }
    return out;
}

QByteArray textPart(const QByteArray &type, const QString &text, const QByteArray &charset)
{
    QStringEncoder encoder(charset.constData());
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        bytes = text.toUtf8();
    return "Content-Type: " + type + "; charset=" + charset + kCrLf +
           "Content-Transfer-Encoding: quoted-printable" + kCrLf + kCrLf + quotedPrintable(bytes) +
           kCrLf;
}

// A charset both Qt can encode and the text fits in; UTF-8 otherwise.
QByteArray chosenCharset(const ReplyContent &content)
{
    const QByteArray wanted = content.charset.trimmed().toLatin1().toLower();
    if (wanted.isEmpty())
        return "utf-8";
    QStringEncoder encoder(wanted.constData());
    if (!encoder.isValid())
        return "utf-8";
    (void)encoder.encode(content.text + content.html);
    return encoder.hasError() ? QByteArray("utf-8") : wanted;
}

} // namespace

QList<QByteArray> message_ids(const QByteArray &headerValue)
{
    QList<QByteArray> ids;
    static const QRegularExpression id(QStringLiteral("<[^<>\\s\"(),;\\\\]+@[^<>\\s\"(),;\\\\]+>"));
    auto it = id.globalMatch(QString::fromLatin1(headerValue));
    while (it.hasNext()) {
        const QByteArray one = it.next().captured().toLatin1();
        bool ascii = true;
        for (char c : one)
            ascii = ascii && static_cast<unsigned char>(c) < 0x7f && c > 0x20;
        if (ascii && one.size() <= kMessageIdMax)
            ids.append(one);
    }
    return ids;
}

QByteArray compose_reply(const ReplyContent &content)
{
    const QByteArray charset = chosenCharset(content);
    const QByteArray boundary = "=_tramelon_" + QUuid::createUuid().toByteArray(idFormat());
    const QDateTime date = content.date.isValid() ? content.date : QDateTime::currentDateTime();
    const QByteArray messageId =
        '<' + QUuid::createUuid().toByteArray(idFormat()) + '@' + domainOf(content.from) + '>';

    QByteArray mail;
    mail += "From: " + content.from.toUtf8() + kCrLf;
    mail += "To: " + content.to.toUtf8() + kCrLf;
    mail += unstructuredField("Subject", content.subject);
    mail += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + kCrLf;
    mail += "Message-ID: " + messageId + kCrLf;
    const QList<QByteArray> inReplyTo = message_ids(content.inReplyTo);
    if (!inReplyTo.isEmpty()) {
        QList<QByteArray> references;
        for (const QByteArray &ref : content.references)
            references += message_ids(ref);
        references.removeAll(inReplyTo.first());
        if (references.size() >= kReferencesKept)
            references = references.first(1) + references.last(kReferencesKept - 2);
        references.append(inReplyTo.first());
        mail += "In-Reply-To: " + inReplyTo.first() + kCrLf;
        mail += foldedField("References", references.join(' '));
    }
    mail += "MIME-Version: 1.0" + kCrLf;
    mail += "Auto-Submitted: auto-replied" + kCrLf;
    mail += "Content-Type: multipart/alternative; boundary=\"" + boundary + '"' + kCrLf;
    mail += kCrLf;
    mail += "--" + boundary + kCrLf;
    mail += textPart("text/plain", content.text, charset);
    mail += "--" + boundary + kCrLf;
    mail += textPart("text/html", mail_reply_html(content.html), charset);
    mail += "--" + boundary + "--" + kCrLf;
    return mail;
}
