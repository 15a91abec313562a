#include "prep/form_repertoire.h"

#include "common/command_list_file.h"
#include "platform/app_folder.h"
#include "platform/message_box.h"
#include "platform/widgets/dir_list.h"
#include "platform/widgets/directory_chooser.h"
#include "platform/widgets/drive_list.h"
#include "platform/widgets/file_list.h"
#include "platform/widgets/twips.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

namespace kestrine {

form_repertoire::form_repertoire(const QString &rep_appli, QWidget *parent)
    : QWidget(parent, Qt::Window), m_rep_appli(platform::avec_separateur(rep_appli))
{
    setObjectName(QStringLiteral("form_repertoire"));
    setWindowTitle(QStringLiteral("Choix du répertoire commandes"));
    setFixedSize(twips(10920), twips(5520));

    Label1 = new QLabel(QStringLiteral("Choississez le repertoire qui accueille les fichiers de "
                                       "commande et le fichier clef"),
                        this);
    Label1->setWordWrap(true);
    Drive1 = new platform::DriveList(this);
    Dir1 = new platform::DirList(this);
    Label3 = new QLabel(QStringLiteral("Répertoire  de synchronisation : "), this);
    Label2 = new QLabel(QStringLiteral("Label2"), this);
    Label2->setWordWrap(true);
    Command1 = new QPushButton(QStringLiteral("Validez votre choix"), this);
    File1 = new platform::FileList(this);
    File1->setPattern(QStringLiteral("*.bat"));

    nommer_et_placer(Label1, u"Label1", 120, 120, 4335, 735);
    nommer_et_placer(Drive1, u"Drive1", 120, 1200, 4335, 315);
    nommer_et_placer(Dir1, u"Dir1", 120, 1680, 4335, 1665);
    nommer_et_placer(Label3, u"Label3", 240, 3480, 4095, 375);
    nommer_et_placer(Label2, u"Label2", 240, 3960, 4335, 495);
    nommer_et_placer(Command1, u"Command1", 1200, 4560, 3135, 735);
    nommer_et_placer(File1, u"File1", 5640, 600, 4215, 3990);

    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, Command1);
    setTabOrder(Command1, File1);
    ajuster_boutons(this);

    connect(Drive1, &platform::DriveList::driveChanged, this, &form_repertoire::Drive1_change);
    connect(Dir1, &platform::DirList::changed, this, &form_repertoire::Dir1_change);
    connect(Command1, &QPushButton::clicked, this, &form_repertoire::Command1_click);

    Form_Load();
}

void form_repertoire::Form_Load()
{
    Dir1->setPath(m_rep_appli);
    // Only show the drive that holds the folder; choosing it must not move Dir1 to its root.
    const QSignalBlocker blocker(Drive1);
    Drive1->setDrive(m_rep_appli);
}

void form_repertoire::Drive1_change(const QString &root)
{
    choix_repertoire::Drive1_change(*Drive1, *Dir1, root);
}

void form_repertoire::Dir1_change(const QString &path)
{
    m_chemin_choisi = platform::avec_separateur(path);
    Label2->setText(m_chemin_choisi);
    File1->setPath(m_chemin_choisi);
}

void form_repertoire::Command1_click()
{
    if (m_chemin_choisi.isEmpty()) {
        choix_repertoire::demander_un_choix();
        return;
    }
    const QStringList noms = File1->fileNames();
    fichier_commandes::ecrire(m_rep_appli + QStringLiteral("filebat.dat"), noms);
    Q_EMIT commandesChoisies(noms);
    close();
}

} // namespace kestrine
