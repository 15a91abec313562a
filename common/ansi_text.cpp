#include "common/ansi_text.h"

#include "common/durable_file.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace ansi {

QString decode(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::System);
    return decoder.decode(bytes);
}

QByteArray encode(const QString &text)
{
    QStringEncoder encoder(QStringConverter::System);
    return encoder.encode(text);
}

std::optional<QStringList> readLines(const QString &path, int maxLines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return splitLines(file.readAll(), maxLines);
}

QStringList splitLines(const QByteArray &content, int maxLines)
{
    QList<QByteArray> raw = content.split('\n');
    // A final line end closes the last line; it does not open another one.
    if (!raw.isEmpty() && raw.last().isEmpty())
        raw.removeLast();
    QStringList lines;
    for (QByteArray &line : raw) {
        if (maxLines >= 0 && lines.size() >= maxLines)
            break;
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(decode(line));
    }
    return lines;
}

bool writeLines(const QString &path, const QStringList &lines, QString *error)
{
    QByteArray content;
    for (const QString &line : lines) {
        content += encode(line);
        content += "\r\n";
    }
    return durable::remplacer(path, content, error);
}

} // namespace ansi
