#pragma once

#include <QString>

class QFont;
class QLabel;
class QWidget;

namespace platform {
class DirList;
class DriveList;
} // namespace platform

// What the directory windows of both programs share: a drive list driving a
// directory list.
namespace choix_repertoire {

// What the directory windows say when "Valider" comes before any choice.
inline constexpr char16_t kChoisirDabord[] = u" choississez  disques et répertoire en cliquant ";

// Says kChoisirDabord in a message box.
void demander_un_choix();

// Shows this directory and chooses its drive. A directory that is gone (an
// actions directory removed since) gives the root of its drive instead, so that
// the operator still has somewhere to start from.
void ouvrir(platform::DriveList &Drive1, platform::DirList &Dir1, const QString &directory);

// Another drive chosen: the directory list goes to its root, or stays where it
// was, with the drive message and the drive of that directory chosen again.
void Drive1_change(platform::DriveList &Drive1, platform::DirList &Dir1, const QString &root);

struct Entete {
    QLabel *Label1;
    platform::DriveList *Drive1;
    platform::DirList *Dir1;
};
// The head of the server's directory windows: the instruction, then the drive
// and directory lists under it.
Entete creer_entete(QWidget *window, const QString &consigne, const QFont &font);

// Label2 of a directory window: the chosen directory, on the colour of title-bar text.
QLabel *creer_chemin(QWidget *window, const QFont &font);

} // namespace choix_repertoire
