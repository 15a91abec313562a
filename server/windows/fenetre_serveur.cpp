#include "server/windows/fenetre_serveur.h"

#include "platform/message_box.h"
#include "server/core/oauth/connexion_oauth2.h"
#include "server/core/serveur.h"
#include "server/keys/provisioning.h"
#include "server/windows/conf_expediteurs.h"
#include "server/windows/conf_mail.h"
#include "server/windows/form1.h"
#include "server/windows/operator_tools.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>

FenetreServeur::FenetreServeur(Serveur &serveur, QObject *parent)
    : FenetreServeur(serveur, provisioning::executable_defaut(), parent)
{
}

FenetreServeur::FenetreServeur(Serveur &serveur, const QString &executable, QObject *parent)
    : QObject(parent), m_serveur(serveur), m_form(std::make_unique<Form1>()),
      m_conf(new conf_mail(m_form.get())), m_expediteurs(new conf_expediteurs(m_conf)),
      m_outils(new OutilsOperateur(serveur.state(), *m_form, executable, this))
{
    m_form->lier(m_serveur.affichage());
    m_conf->setFields(m_serveur.configuration());

    connect(m_form->configuration_mail, &QPushButton::clicked, this,
            &FenetreServeur::configuration_mail_click);
    connect(m_form->end, &QPushButton::clicked, &m_serveur, &Serveur::fin);
    connect(m_form->cre_clefs, &QPushButton::clicked, this, &FenetreServeur::cre_clefs_click);
    connect(m_form.get(), &Form1::fermeture, &m_serveur, &Serveur::arret);
    connect(m_conf, &conf_mail::enregistrer, this, &FenetreServeur::enregistre_click);
    connect(m_conf, &conf_mail::abandon, this, &FenetreServeur::abandon_configuration);
    connect(m_conf->expediteurs, &QPushButton::clicked, this, &FenetreServeur::expediteurs_click);
    connect(m_expediteurs, &conf_expediteurs::enregistrer, this,
            &FenetreServeur::enregistre_expediteurs_click);
    connect(m_conf, &conf_mail::demande_connexion_oauth2, this,
            &FenetreServeur::connexion_oauth2_click);
}

FenetreServeur::~FenetreServeur() = default;

void FenetreServeur::configuration_mail_click()
{
    m_form->configuration_mail->setEnabled(false);
    m_serveur.ouvrir_configuration();
    m_conf->show();
}

void FenetreServeur::enregistre_click()
{
    MailSettingsFields fields = m_conf->fields();
    m_serveur.enregistrer_configuration(fields);
    m_conf->setFields(fields);
    m_conf->hide();
    m_form->configuration_mail->setEnabled(true);
}

void FenetreServeur::abandon_configuration()
{
    // Closing the dialog otherwise than by its button saves nothing.
    m_conf->setFields(m_serveur.configuration());
    m_serveur.abandonner_configuration();
    m_form->configuration_mail->setEnabled(true);
}

void FenetreServeur::expediteurs_click()
{
    // Always the settings in force: a dialog closed without saving left its text.
    m_expediteurs->setRegles(m_serveur.state().expediteurs);
    m_expediteurs->open();
}

void FenetreServeur::enregistre_expediteurs_click()
{
    m_serveur.enregistrer_expediteurs(m_expediteurs->regles());
    m_expediteurs->setRegles(m_serveur.state().expediteurs);
    m_expediteurs->accept();
}

void FenetreServeur::cre_clefs_click()
{
    m_form->cre_clefs->setEnabled(false);
    m_serveur.cre_clefs();
    m_form->cre_clefs->setEnabled(true);
}

void FenetreServeur::connexion_oauth2_click()
{
    if (m_connexion)
        return;
    // The sign-in reads the [oauth2] section and the login as pop3.ini holds them.
    m_connexion = new ConnexionOAuth2(m_serveur.state().rep_appli, this);
    connect(m_connexion, &ConnexionOAuth2::code_appareil, this,
            [this](const QString &adresse, const QString &code, const QString &) {
                m_conf->afficher_oauth2(QStringLiteral("Ouvrez dans un navigateur ") + adresse +
                                            QStringLiteral(" et saisissez le code ") + code,
                                        true);
            });
    connect(m_connexion, &ConnexionOAuth2::adresse_navigateur, this, [this](const QString &a) {
        m_conf->afficher_oauth2(QStringLiteral("Autorisez l'accès dans le navigateur : ") + a,
                                true);
        QDesktopServices::openUrl(QUrl(a));
    });
    connect(m_connexion, &ConnexionOAuth2::termine, this, [this](bool, const QString &message) {
        m_conf->afficher_oauth2(message, false);
        m_connexion->deleteLater();
        m_connexion = nullptr;
        platform::afficher_message(message);
    });
    m_conf->afficher_oauth2(QStringLiteral("Connexion OAuth2 en cours..."), true);
    m_connexion->demarrer();
}
