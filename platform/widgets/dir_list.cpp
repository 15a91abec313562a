#include "platform/widgets/dir_list.h"

#include "common/name_order.h"

#include <QDir>
#include <QFileInfo>

namespace platform {

namespace {
const QString kParent = QStringLiteral("..");
} // namespace

DirList::DirList(QWidget *parent) : QListWidget(parent)
{
    connect(this, &QListWidget::itemActivated, this, &DirList::open);
}

bool DirList::setPath(const QString &directory)
{
    const QFileInfo info(directory);
    if (directory.isEmpty() || !info.isDir() || !info.isReadable())
        return false;
    const QString cleaned = QDir::cleanPath(info.absoluteFilePath());
    if (cleaned == m_path)
        return true;
    m_path = cleaned;
    refresh();
    Q_EMIT changed(m_path);
    return true;
}

QString DirList::path() const { return m_path; }

void DirList::refresh()
{
    clear();
    if (m_path.isEmpty())
        return;
    const QDir dir(m_path);
    if (!dir.isRoot())
        addItem(kParent);
    QStringList names =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Unsorted);
    ordre_noms::trier(names);
    addItems(names);
}

void DirList::open(QListWidgetItem *item)
{
    if (!item || m_path.isEmpty())
        return;
    QDir dir(m_path);
    if (item->text() == kParent ? dir.cdUp() : dir.cd(item->text()))
        setPath(dir.absolutePath());
}

} // namespace platform
