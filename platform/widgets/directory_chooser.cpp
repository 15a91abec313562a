#include "platform/widgets/directory_chooser.h"

#include "platform/message_box.h"
#include "platform/widgets/dir_list.h"
#include "platform/widgets/drive_list.h"
#include "platform/widgets/twips.h"

#include <QLabel>

#include <QSignalBlocker>

namespace choix_repertoire {

void demander_un_choix() { platform::afficher_message(QString::fromUtf16(kChoisirDabord)); }

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

Entete creer_entete(QWidget *window, const QString &consigne, const QFont &font)
{
    Entete e;
    e.Label1 = new QLabel(consigne, window);
    e.Label1->setFont(font);
    e.Label1->setWordWrap(true);
    nommer_et_placer(e.Label1, u"Label1", 120, 120, 4335, 735);
    e.Drive1 = new platform::DriveList(window);
    nommer_et_placer(e.Drive1, u"Drive1", 120, 840, 4095, 315);
    e.Dir1 = new platform::DirList(window);
    nommer_et_placer(e.Dir1, u"Dir1", 120, 1320, 4335, 1665);
    return e;
}

QLabel *creer_chemin(QWidget *window, const QFont &font)
{
    auto *label = new QLabel(window);
    label->setObjectName(QStringLiteral("Label2"));
    label->setFont(font);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::HighlightedText));
    label->setPalette(palette);
    return label;
}

} // namespace choix_repertoire
