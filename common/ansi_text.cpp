#include "common/ansi_text.h"

#include <QFile>
#include <QSaveFile>
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
    const QByteArray content = file.readAll();
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

bool writeLines(const QString &path, const QStringList &lines)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString &line : lines) {
        file.write(encode(line));
        file.write("\r\n", 2);
    }
    return file.commit();
}

} // namespace ansi
