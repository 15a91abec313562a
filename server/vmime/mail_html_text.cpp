#include "server/vmime/mail_html_text.h"

#include <QHash>
#include <QRegularExpression>

namespace {

// The named entities real mail programs write; numeric ones cover the rest.
const QHash<QString, char32_t> &namedEntities()
{
    static const QHash<QString, char32_t> entities = {
        {QStringLiteral("amp"), U'&'},    {QStringLiteral("lt"), U'<'},
        {QStringLiteral("gt"), U'>'},     {QStringLiteral("quot"), U'"'},
        {QStringLiteral("apos"), U'\''},  {QStringLiteral("nbsp"), U'\u00A0'},
        {QStringLiteral("eacute"), U'é'}, {QStringLiteral("egrave"), U'è'},
        {QStringLiteral("ecirc"), U'ê'},  {QStringLiteral("euml"), U'ë'},
        {QStringLiteral("agrave"), U'à'}, {QStringLiteral("acirc"), U'â'},
        {QStringLiteral("auml"), U'ä'},   {QStringLiteral("ccedil"), U'ç'},
        {QStringLiteral("icirc"), U'î'},  {QStringLiteral("iuml"), U'ï'},
        {QStringLiteral("ocirc"), U'ô'},  {QStringLiteral("ouml"), U'ö'},
        {QStringLiteral("ugrave"), U'ù'}, {QStringLiteral("ucirc"), U'û'},
        {QStringLiteral("uuml"), U'ü'},   {QStringLiteral("Eacute"), U'É'},
        {QStringLiteral("Egrave"), U'È'}, {QStringLiteral("Agrave"), U'À'},
        {QStringLiteral("Ccedil"), U'Ç'}, {QStringLiteral("szlig"), U'ß'},
        {QStringLiteral("euro"), U'€'},   {QStringLiteral("copy"), U'©'},
        {QStringLiteral("reg"), U'®'},    {QStringLiteral("laquo"), U'«'},
        {QStringLiteral("raquo"), U'»'},  {QStringLiteral("hellip"), U'…'},
        {QStringLiteral("ndash"), U'–'},  {QStringLiteral("mdash"), U'—'},
        {QStringLiteral("rsquo"), U'’'},  {QStringLiteral("lsquo"), U'‘'},
        {QStringLiteral("ldquo"), U'“'},  {QStringLiteral("rdquo"), U'”'},
    };
    return entities;
}

QString decodeEntities(const QString &text)
{
    static const QRegularExpression entity(
        QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[A-Za-z][A-Za-z0-9]{1,31});"));
    QString out;
    out.reserve(text.size());
    qsizetype last = 0;
    auto it = entity.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        last = m.capturedEnd();
        const QString name = m.captured(1);
        char32_t code = 0;
        if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#X")))
            code = name.mid(2).toUInt(nullptr, 16);
        else if (name.startsWith(QLatin1Char('#')))
            code = name.mid(1).toUInt();
        else
            code = namedEntities().value(name, 0);
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            out += m.captured(0); // unknown: shown as written, like a browser does
        else
            out += QString::fromUcs4(&code, 1);
    }
    out += QStringView(text).mid(last);
    return out;
}

} // namespace

QString html_to_text(const QString &html)
{
    QString text = html;
    static const QRegularExpression invisible(
        QStringLiteral("<!--.*?-->|<(script|style|head|title)\\b[^>]*>.*?</\\1\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    text.remove(invisible);

    // Source line breaks are mere blanks in HTML; only tags make lines.
    static const QRegularExpression whitespace(QStringLiteral("[ \\t\\r\\n\\f]+"));
    text.replace(whitespace, QStringLiteral(" "));

    static const QRegularExpression lineBreak(
        QStringLiteral("<br\\b[^>]*>|</?(p|div|tr|li|h[1-6]|table|blockquote)\\b[^>]*>"),
        QRegularExpression::CaseInsensitiveOption);
    text.replace(lineBreak, QStringLiteral("\n"));

    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    text.remove(tag);
    text = decodeEntities(text);
    text.replace(QChar(0x00A0), QLatin1Char(' '));

    // Blanks next to a tag-made break are layout, not text; a block tag
    // after a <br> must not add an empty line of its own.
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = line.trimmed();
    QString result;
    bool previousEmpty = true;
    for (const QString &line : lines) {
        if (line.isEmpty() && previousEmpty)
            continue;
        result += line;
        result += QStringLiteral("\r\n");
        previousEmpty = line.isEmpty();
    }
    while (result.endsWith(QStringLiteral("\r\n\r\n")))
        result.chop(2);
    return result;
}
