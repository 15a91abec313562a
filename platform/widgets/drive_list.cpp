#include "platform/widgets/drive_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>

namespace platform {

DriveList::DriveList(QWidget *parent) : QComboBox(parent)
{
    setDrives(machineDrives());
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            Q_EMIT driveChanged(itemData(index).toString());
    });
}

QStringList DriveList::machineDrives()
{
    QStringList roots;
#ifdef Q_OS_WIN
    for (const QFileInfo &drive : QDir::drives())
        roots.append(drive.absoluteFilePath());
#else
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && !roots.contains(volume.rootPath()))
            roots.append(volume.rootPath());
    }
    roots.sort();
    if (roots.isEmpty())
        roots.append(QDir::rootPath());
#endif
    return roots;
}

void DriveList::refresh()
{
    const QString current = drive();
    setDrives(machineDrives());
    if (!current.isEmpty())
        setDrive(current);
}

void DriveList::setDrives(const QStringList &roots)
{
    const QSignalBlocker blocker(this);
    clear();
    for (const QString &root : roots)
        addItem(QDir::toNativeSeparators(root), root);
}

QString DriveList::drive() const { return currentData().toString(); }

void DriveList::setDrive(const QString &path)
{
    const QString wanted = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < count(); ++i) {
        const QString root = QDir::cleanPath(itemData(i).toString());
        const bool holds =
            wanted.compare(root, Qt::CaseInsensitive) == 0 ||
            wanted.startsWith(root.endsWith(u'/') ? root : root + u'/', Qt::CaseInsensitive);
        if (holds && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    if (best >= 0)
        setCurrentIndex(best);
}

bool DriveList::accessible(const QString &root)
{
    const QFileInfo info(root);
    if (!info.exists() || !info.isDir() || !info.isReadable())
        return false;
    const QStorageInfo volume(root);
    return !volume.isValid() || volume.isReady();
}

} // namespace platform
