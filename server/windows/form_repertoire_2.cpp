#include "server/windows/form_repertoire_2.h"

#include "common/blancs.h"
#include "platform/app_folder.h"
#include "platform/message_box.h"
#include "platform/widgets/dir_list.h"
#include "platform/widgets/directory_chooser.h"
#include "platform/widgets/drive_list.h"
#include "platform/widgets/file_list.h"
#include "platform/widgets/twips.h"
#include "server/keys/provisioning.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

form_repertoire_2::form_repertoire_2(ServerState &state, const QString &executable, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_state(state), m_executable(executable)
{
    setObjectName(QStringLiteral("form_repertoire_2"));
    setWindowTitle(QStringLiteral("Choix du répertoire "));
    setFixedSize(twips(4770), twips(5460));

    const QFont font = police_formulaire();
    const QFont small = police_formulaire(8.25);

    const choix_repertoire::Entete entete = choix_repertoire::creer_entete(
        this,
        QStringLiteral(
            "Choississez le repertoire qui accueillera  le logiciel de préparation des messages"),
        font);
    Label1 = entete.Label1;
    Drive1 = entete.Drive1;
    Dir1 = entete.Dir1;

    Check1 = new QCheckBox(QStringLiteral("Créer un sous répertoire"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setFont(font);
    placer(Check1, 120, 3120, 3495, 375);

    Label3 = new QLabel(QStringLiteral("sous répertoire : "), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setFont(small);
    Label3->setAlignment(Qt::AlignRight | Qt::AlignTop);
    placer(Label3, 120, 3600, 1695, 375);

    Text1 = new QLineEdit(QStringLiteral("Kestrine"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setFont(small);
    placer(Text1, 1920, 3480, 2535, 405);

    Label2 = choix_repertoire::creer_chemin(this, font);
    Label2->setFrameShape(QFrame::Box);
    placer(Label2, 120, 4080, 4335, 375);

    Command1 = new QPushButton(QStringLiteral("Validez votre choix"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setFont(font);
    placer(Command1, 120, 4560, 4335, 735);

    File1 = new platform::FileList(this);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setPattern(QStringLiteral("*.bat"));
    File1->setFocusPolicy(Qt::NoFocus);
    placer(File1, 4920, 1320, 615, 285);

    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, Command1);
    setTabOrder(Command1, Check1);
    setTabOrder(Check1, Text1);
    ajuster_boutons(this);

    connect(Dir1, &platform::DirList::changed, this, &form_repertoire_2::Dir1_change);
    connect(Drive1, &platform::DriveList::driveChanged, this,
            [this](const QString &root) { choix_repertoire::Drive1_change(*Drive1, *Dir1, root); });
    connect(Check1, &QCheckBox::toggled, this, &form_repertoire_2::Check1_click);
    connect(Command1, &QPushButton::clicked, this, &form_repertoire_2::Command1_click);
}

void form_repertoire_2::Form_Load() { choix_repertoire::ouvrir(*Drive1, *Dir1, m_state.rep_appli); }

void form_repertoire_2::Dir1_change(const QString &path)
{
    m_chemin_choisi = platform::avec_separateur(path);
    calcule_cible();
    montre_cible();
}

void form_repertoire_2::Check1_click()
{
    // A name typed in Text1 takes effect here or at the next directory, not
    // while it is typed.
    calcule_cible();
    montre_cible();
}

void form_repertoire_2::calcule_cible()
{
    const std::optional<QString> cible = provisioning::chemin_cible(m_chemin_choisi, Text1->text());
    m_cible_valide = cible.has_value();
    m_chemin_cible = cible ? *cible : provisioning::cible_refusee(m_chemin_choisi, Text1->text());
}

void form_repertoire_2::montre_cible()
{
    Label2->setText(Check1->isChecked() ? m_chemin_cible : m_chemin_choisi);
}

void form_repertoire_2::Command1_click()
{
    if (m_chemin_choisi.isEmpty()) {
        choix_repertoire::demander_un_choix();
        return;
    }
    // A name that cannot be one folder is refused before anything is created.
    if (Check1->isChecked() && !m_cible_valide) {
        platform::afficher_message(QStringLiteral(" les fichiers n'existent pas "));
        return;
    }
    provisioning::Demande demande;
    demande.rep_appli = m_state.rep_appli;
    demande.rep_actions = m_state.rep_actions;
    demande.cible = platform::avec_separateur(enleve_blancs(Label2->text()));
    demande.creer_cible = Check1->isChecked();
    demande.executable = m_executable;
    File1->setPath(m_state.rep_actions);

    switch (provisioning::preparer(demande)) {
    case provisioning::Issue::Fait:
        close();
        break;
    case provisioning::Issue::AucunFichierCommande:
        platform::afficher_message(
            QStringLiteral("le répertoire actions ne contient aucun fichier de commande"));
        close();
        break;
    case provisioning::Issue::Echec:
        platform::afficher_message(QStringLiteral(" les fichiers n'existent pas "));
        break;
    }
}

void form_repertoire_2::closeEvent(QCloseEvent *event)
{
    event->accept();
    Q_EMIT fermee();
}
