#include "server/windows/form_repertoire.h"

#include "platform/app_folder.h"
#include "platform/message_box.h"
#include "platform/widgets/dir_list.h"
#include "platform/widgets/directory_chooser.h"
#include "platform/widgets/drive_list.h"
#include "platform/widgets/twips.h"
#include "server/keys/actions_directory.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

form_repertoire::form_repertoire(ServerState &state, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_state(state)
{
    setObjectName(QStringLiteral("form_repertoire"));
    setWindowTitle(QStringLiteral("Choix du répertoire commandes"));
    setFixedSize(twips(4680), twips(4725));

    const QFont font = police_formulaire();

    const choix_repertoire::Entete entete = choix_repertoire::creer_entete(
        this, QStringLiteral("Choississez le repertoire qui accueille les fichiers de commande"),
        font);
    Label1 = entete.Label1;
    Drive1 = entete.Drive1;
    Dir1 = entete.Dir1;

    Label2 = choix_repertoire::creer_chemin(this, font);
    placer(Label2, 120, 3240, 4335, 375);

    Command1 = new QPushButton(QStringLiteral("Validez votre choix"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setFont(font);
    placer(Command1, 1320, 3840, 3135, 735);

    // Labels take no focus; only the lists and the button are in the chain.
    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, Command1);
    ajuster_boutons(this);

    connect(Dir1, &platform::DirList::changed, this, &form_repertoire::Dir1_change);
    connect(Drive1, &platform::DriveList::driveChanged, this,
            [this](const QString &root) { choix_repertoire::Drive1_change(*Drive1, *Dir1, root); });
    connect(Command1, &QPushButton::clicked, this, &form_repertoire::Command1_click);
}

void form_repertoire::Form_Load() { choix_repertoire::ouvrir(*Drive1, *Dir1, m_state.rep_actions); }

void form_repertoire::Dir1_change(const QString &path)
{
    m_chemin_choisi = platform::avec_separateur(path);
    Label2->setText(m_chemin_choisi);
}

void form_repertoire::Command1_click()
{
    if (m_chemin_choisi.isEmpty()) {
        choix_repertoire::demander_un_choix();
        return;
    }
    switch (repertoire_actions::choisir(m_state, Label2->text())) {
    case repertoire_actions::Issue::Fait:
        close();
        break;
    case repertoire_actions::Issue::AucunChoix:
        choix_repertoire::demander_un_choix();
        break;
    case repertoire_actions::Issue::TropLong:
        platform::afficher_message(
            QStringLiteral("le chemin choisi est trop long (127 caractères au plus)"));
        break;
    }
}

void form_repertoire::closeEvent(QCloseEvent *event)
{
    event->accept();
    Q_EMIT fermee();
}
