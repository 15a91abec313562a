#include "server/mail/mail_reply_html.h"

QString mail_reply_html(const QString &text)
{
    QString normalised = text;
    normalised.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString escaped = normalised.toHtmlEscaped();
    escaped.replace(QLatin1Char('\n'), QStringLiteral("<br>\n"));
    return QStringLiteral("<html><body>\n") + escaped + QStringLiteral("\n</body></html>\n");
}
