#include "platform/directory_chooser.h"

#include "platform/dir_list.h"
#include "platform/drive_list.h"
#include "platform/message_box.h"

#include <QSignalBlocker>

namespace choix_repertoire {

void ouvrir(platform::DriveList &Drive1, platform::DirList &Dir1, const QString &directory)
{
    {
        const QSignalBlocker blocker(&Drive1);
        Drive1.setDrive(directory);
    }
    if (!Dir1.setPath(directory))
        Dir1.setPath(Drive1.drive());
}

void Drive1_change(platform::DriveList &Drive1, platform::DirList &Dir1, const QString &root)
{
    if (platform::DriveList::accessible(root) && Dir1.setPath(root))
        return;
    platform::afficher_message(
        QStringLiteral(" le disque choisi n'est pas accessibe, choississez en un autre"));
    // The drive list then names the drive of the directory still shown.
    if (!Dir1.path().isEmpty()) {
        const QSignalBlocker blocker(&Drive1);
        Drive1.setDrive(Dir1.path());
    }
}

} // namespace choix_repertoire
