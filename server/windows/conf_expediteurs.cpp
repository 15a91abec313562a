#include "server/windows/conf_expediteurs.h"

#include "platform/widgets/twips.h"
#include "server/frame/config.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

conf_expediteurs::conf_expediteurs(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("conf_expediteurs"));
    setWindowTitle(QStringLiteral("Expéditeurs autorisés"));
    setFixedSize(twips(6225), twips(4380));
    setWindowModality(Qt::WindowModal);

    const QFont font = police_formulaire();
    auto label = [&](const char *name, const QString &text, int l, int t, int w, int h) {
        auto *lab = new QLabel(text, this);
        lab->setObjectName(QString::fromLatin1(name));
        lab->setFont(font);
        lab->setWordWrap(true);
        placer(lab, l, t, w, h);
    };

    label("Label1",
          QStringLiteral("Adresses autorisées, séparées par des virgules (*@domaine pour tout un "
                         "domaine ; vide : tout le monde) :"),
          240, 120, 5745, 495);
    autorises = new QLineEdit(this);
    autorises->setObjectName(QStringLiteral("autorises"));
    autorises->setFont(font);
    autorises->setMaxLength(config::kTailleLectureListe - 1);
    placer(autorises, 240, 720, 5745, 375);

    dmarc = new QCheckBox(QStringLiteral("Exiger l'authentification DMARC de l'expéditeur"), this);
    dmarc->setObjectName(QStringLiteral("dmarc"));
    dmarc->setFont(font);
    placer(dmarc, 240, 1320, 5745, 375);

    label("Label2",
          QStringLiteral("Serveur d'authentification (vide : le premier champ "
                         "Authentication-Results) :"),
          240, 1800, 5745, 495);
    serveur_authentification = new QLineEdit(this);
    serveur_authentification->setObjectName(QStringLiteral("serveur_authentification"));
    serveur_authentification->setFont(font);
    serveur_authentification->setMaxLength(config::kTailleLecture - 1);
    placer(serveur_authentification, 240, 2400, 5745, 375);

    label("Label3",
          QStringLiteral("Le message d'un expéditeur refusé est archivé et supprimé, sans "
                         "exécution ni réponse."),
          240, 2880, 5745, 495);

    enregistre = new QPushButton(QStringLiteral("Quitter  et enregistrer les modifications"), this);
    enregistre->setObjectName(QStringLiteral("enregistre"));
    enregistre->setFont(font);
    placer(enregistre, 2280, 3360, 3615, 855);

    setTabOrder(autorises, dmarc);
    setTabOrder(dmarc, serveur_authentification);
    setTabOrder(serveur_authentification, enregistre);

    ajuster_boutons(this);
    connect(enregistre, &QPushButton::clicked, this, &conf_expediteurs::enregistrer);
}

ReglesExpediteurs conf_expediteurs::regles() const
{
    ReglesExpediteurs r;
    r.autorises = autorises->text().trimmed();
    r.authentification = dmarc->isChecked() ? QStringLiteral("dmarc") : QStringLiteral("non");
    r.serveur_authentification = serveur_authentification->text().trimmed();
    return r;
}

void conf_expediteurs::setRegles(const ReglesExpediteurs &r)
{
    autorises->setText(r.autorises);
    dmarc->setChecked(r.dmarc_exige());
    serveur_authentification->setText(r.serveur_authentification);
}
