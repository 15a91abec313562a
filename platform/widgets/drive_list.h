#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>

namespace platform {

// The drive list box of the choosers: drive letters on Windows, the mounted
// volumes elsewhere. Each entry's data is the root path of its drive.
class DriveList : public QComboBox
{
    Q_OBJECT

public:
    explicit DriveList(QWidget *parent = nullptr);

    // Reads the machine's drives again, keeping the chosen one when it is still there.
    void refresh();
    // Replaces the listed drives by these root paths (a test can offer a drive
    // that is not there); no change is reported.
    void setDrives(const QStringList &roots);

    // Root path of the chosen drive, empty when the list is empty.
    QString drive() const;
    // Chooses the drive that holds this path (the longest root that contains it).
    void setDrive(const QString &path);

    // True when the drive's root can be opened and listed.
    static bool accessible(const QString &root);
    static QStringList machineDrives();

Q_SIGNALS:
    // The user or the program chose another drive.
    void driveChanged(const QString &root);
};

} // namespace platform
