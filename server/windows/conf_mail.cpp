#include "server/windows/conf_mail.h"

#include "platform/widgets/twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
// pop3.ini gives back at most 63 characters of a setting.
constexpr int kLongueurMax = 63;
} // namespace

conf_mail::conf_mail(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("conf_mail"));
    setWindowTitle(QStringLiteral("Configuration Mail"));
    setFixedSize(twips(6225), twips(6000));
    setModal(false);

    const QFont font = police_formulaire();

    auto label = [&](const char *name, const QString &text, int l, int t, int w, int h,
                     bool right) {
        auto *lab = new QLabel(text, this);
        lab->setObjectName(QString::fromLatin1(name));
        lab->setFont(font);
        if (right)
            lab->setAlignment(Qt::AlignRight | Qt::AlignTop);
        placer(lab, l, t, w, h);
    };
    auto edit = [&](const char *name, const QString &text, int l, int t, int w, int h) {
        auto *e = new QLineEdit(text, this);
        e->setObjectName(QString::fromLatin1(name));
        e->setFont(font);
        e->setMaxLength(kLongueurMax);
        placer(e, l, t, w, h);
        return e;
    };

    label("sss", QStringLiteral("Serveur mail :"), 0, 240, 2055, 375, true);
    serveur_mail = edit("serveur_mail", QStringLiteral(" "), 2280, 120, 3500, 375);
    label("Label9", QStringLiteral("Serveur pop3"), 600, 600, 1455, 375, false);
    serveur_pop = edit("serveur_pop", QString(), 2280, 600, 3495, 375);
    auth_smtp = new QCheckBox(QStringLiteral("Authentification SMTP"), this);
    auth_smtp->setObjectName(QStringLiteral("auth_smtp"));
    auth_smtp->setFont(font);
    placer(auth_smtp, 240, 1080, 2775, 375);
    label("Label3", QStringLiteral("Login :"), -240, 1440, 2295, 255, true);
    login = edit("login", QStringLiteral(" "), 2280, 1440, 3500, 360);
    label("Label4", QStringLiteral("Password :"), 360, 1920, 1695, 255, true);
    Password = edit("Password", QStringLiteral(" "), 2280, 1920, 3500, 375);
    Password->setEchoMode(QLineEdit::Password);
    // The password shows as asterisks, as the operator knows it, not the style's dots.
    Password->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    label("Label2", QStringLiteral("repondre à :"), -480, 2400, 2535, 255, true);
    repondre_a = edit("repondre_a", QStringLiteral(" "), 2280, 2400, 3500, 375);
    label("Label1", QStringLiteral("Intervalle d' interrogation boite mail : "), 120, 3000, 4215,
          375, true);
    duree = edit("duree", QStringLiteral(" "), 4560, 3000, 735, 375);
    duree->setFont(QFont());
    label("Label5", QStringLiteral("Sec"), 5520, 3000, 495, 255, false);
    enregistre = new QPushButton(QStringLiteral("Quitter  et enregistrer les modifications"), this);
    enregistre->setObjectName(QStringLiteral("enregistre"));
    enregistre->setFont(font);
    placer(enregistre, 2280, 3600, 3615, 855);
    expediteurs = new QPushButton(QStringLiteral("Expéditeurs autorisés"), this);
    expediteurs->setObjectName(QStringLiteral("expediteurs"));
    expediteurs->setFont(font);
    placer(expediteurs, 240, 3600, 1815, 855);

    setTabOrder(serveur_mail, auth_smtp);
    setTabOrder(auth_smtp, enregistre);
    setTabOrder(enregistre, repondre_a);
    setTabOrder(repondre_a, login);
    setTabOrder(login, Password);
    setTabOrder(Password, serveur_pop);
    setTabOrder(serveur_pop, duree);

    label("Label6", QStringLiteral("Connexion :"), 0, 4680, 2055, 375, true);
    connexion = new QComboBox(this);
    connexion->setObjectName(QStringLiteral("connexion"));
    connexion->setFont(font);
    connexion->addItems({QStringLiteral("mot de passe"), QStringLiteral("OAuth2")});
    placer(connexion, 2280, 4680, 1800, 375);
    connexion_oauth2 = new QPushButton(QStringLiteral("Connexion OAuth2..."), this);
    connexion_oauth2->setObjectName(QStringLiteral("connexion_oauth2"));
    connexion_oauth2->setFont(font);
    placer(connexion_oauth2, 2280, 5160, 2295, 555);
    etat_oauth2 = new QLabel(this);
    etat_oauth2->setObjectName(QStringLiteral("etat_oauth2"));
    etat_oauth2->setFont(font);
    etat_oauth2->setWordWrap(true);
    etat_oauth2->setTextInteractionFlags(Qt::TextSelectableByMouse);
    placer(etat_oauth2, 240, 5400, 5655, 795);
    setTabOrder(duree, connexion);
    setTabOrder(connexion, connexion_oauth2);
    setTabOrder(connexion_oauth2, expediteurs);

    ajuster_boutons(this);
    connect(enregistre, &QPushButton::clicked, this, &conf_mail::enregistrer);
    connect(connexion, &QComboBox::currentIndexChanged, this, [this](int index) {
        // With OAuth 2.0 the password is not used.
        connexion_oauth2->setEnabled(index == 1);
        Password->setEnabled(index != 1);
    });
    connexion_oauth2->setEnabled(false);
    connect(connexion_oauth2, &QPushButton::clicked, this, &conf_mail::demande_connexion_oauth2);
}

MailSettingsFields conf_mail::fields() const
{
    MailSettingsFields f;
    f.serveur_mail = serveur_mail->text();
    f.serveur_pop = serveur_pop->text();
    f.repondre_a = repondre_a->text();
    f.auth_smtp = auth_smtp->isChecked();
    f.login = login->text();
    f.Password = Password->text();
    f.duree = duree->text();
    f.connexion_oauth2 = connexion->currentIndex() == 1;
    return f;
}

void conf_mail::setFields(const MailSettingsFields &f)
{
    serveur_mail->setText(f.serveur_mail);
    serveur_pop->setText(f.serveur_pop);
    repondre_a->setText(f.repondre_a);
    auth_smtp->setChecked(f.auth_smtp);
    login->setText(f.login);
    Password->setText(f.Password);
    duree->setText(f.duree);
    connexion->setCurrentIndex(f.connexion_oauth2 ? 1 : 0);
}

void conf_mail::afficher_oauth2(const QString &text, bool enCours)
{
    etat_oauth2->setText(text);
    connexion_oauth2->setEnabled(!enCours && connexion->currentIndex() == 1);
}

void conf_mail::reject()
{
    // The close box and Escape land here: the dialog goes, nothing is saved.
    QDialog::reject();
    Q_EMIT abandon();
}
