#include "platform/widgets/file_list.h"

#include "common/name_order.h"

#include <QDir>

namespace platform {

FileList::FileList(QWidget *parent) : QListWidget(parent) {}

void FileList::setPath(const QString &directory)
{
    m_path = directory;
    refresh();
}

QString FileList::path() const { return m_path; }

void FileList::setPattern(const QString &pattern)
{
    m_pattern = pattern;
    refresh();
}

QString FileList::pattern() const { return m_pattern; }

QString FileList::fileName(int i) const
{
    const QListWidgetItem *row = item(i);
    return row ? row->text() : QString();
}

QStringList FileList::fileNames() const
{
    QStringList names;
    for (int i = 0; i < count(); ++i)
        names.append(item(i)->text());
    return names;
}

void FileList::refresh()
{
    clear();
    if (m_path.isEmpty())
        return;
    // "*.*" means every file, as in the Windows list, even one without a dot.
    QStringList filters = m_pattern.split(u';', Qt::SkipEmptyParts);
    for (QString &filter : filters) {
        filter = filter.trimmed();
        if (filter == QLatin1String("*.*"))
            filter = QStringLiteral("*");
    }
    // QDir's name filters ignore letter case by default.
    QStringList names = QDir(m_path).entryList(filters, QDir::Files | QDir::Hidden, QDir::Unsorted);
    ordre_noms::trier(names);
    addItems(names);
}

} // namespace platform
