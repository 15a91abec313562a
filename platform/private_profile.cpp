#include "platform/private_profile.h"

#include "common/ansi_text.h"
#include "common/durable_file.h"

namespace platform {

namespace {

QString trimProfile(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (start < end && blank(text.at(start)))
        ++start;
    while (end > start && blank(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

// The name of a section header line, or nothing when the line is not one.
std::optional<QString> sectionName(const QString &line)
{
    const QString t = trimProfile(line);
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.indexOf(u']');
    return trimProfile(t.mid(1, close < 0 ? -1 : close - 1));
}

// The key of a "key=value" line, or nothing.
std::optional<QString> keyName(const QString &line)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return std::nullopt;
    return trimProfile(line.left(eq));
}

bool sameName(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QStringList readProfile(const QString &file)
{
    return ansi::readLines(file).value_or(QStringList());
}

} // namespace

QString GetPrivateProfileString(const QString &section, const QString &key,
                                const QString &defaultValue, int size, const QString &file)
{
    const int limit = qMax(0, size - 1);
    bool inSection = false;
    for (const QString &line : readProfile(file)) {
        if (const auto name = sectionName(line)) {
            inSection = sameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        const auto name = keyName(line);
        if (name && sameName(*name, key))
            return trimProfile(line.mid(line.indexOf(u'=') + 1)).left(limit);
    }
    return defaultValue.left(limit);
}

bool WritePrivateProfileString(const QString &section, const QString &key, const QString &value,
                               const QString &file)
{
    QStringList lines = readProfile(file);
    const QString entry = key + u'=' + value;

    qsizetype sectionStart = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines.at(i));
        if (name && sameName(*name, section)) {
            sectionStart = i;
            break;
        }
    }

    if (sectionStart < 0) {
        lines.append(u'[' + section + u']');
        lines.append(entry);
    } else {
        qsizetype lastEntry = sectionStart;
        bool replaced = false;
        for (qsizetype i = sectionStart + 1; i < lines.size(); ++i) {
            if (sectionName(lines.at(i)))
                break;
            const auto name = keyName(lines.at(i));
            if (name && sameName(*name, key)) {
                lines[i] = entry;
                replaced = true;
                break;
            }
            if (!trimProfile(lines.at(i)).isEmpty())
                lastEntry = i;
        }
        if (!replaced)
            lines.insert(lastEntry + 1, entry);
    }

    // pop3.ini may hold a password: it stays readable by its owner only, and a
    // failed write leaves the old file whole.
    QByteArray content;
    for (const QString &line : std::as_const(lines)) {
        content += ansi::encode(line);
        content += "\r\n";
    }
    return durable::remplacer(file, content);
}

} // namespace platform
