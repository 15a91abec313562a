#include "server/core/serveur.h"

#include "platform/message_box.h"
#include "platform/shell_launch.h"
#include "server/windows/conf_mail.h"
#include "server/frame/config.h"
#include "server/windows/form1.h"
#include "server/frame/journal.h"
#include "server/keys/key_store.h"
#include "server/windows/operator_tools.h"
#include "server/mail/pop3_session.h"
#include "server/mail/reponse.h"
#include "server/mail/sequenceur.h"
#include "server/mail/smtp_sender.h"
#include "server/mail/traitement.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

Serveur::Serveur(const QString &rep_appli, std::unique_ptr<Pop3Session> session,
                 std::unique_ptr<SmtpSender> smtp, FinProgramme fin, QObject *parent)
    : QObject(parent)
    , m_form(std::make_unique<Form1>())
    , m_conf(new conf_mail(m_form.get()))
    , m_session(std::move(session))
    , m_smtp(std::move(smtp))
    , m_fin(std::move(fin))
{
    m_state.rep_appli = rep_appli;
    m_traitement = std::make_unique<Traitement>(m_state, *m_form, *m_session, &platform::ShellExecute);
    m_reponse = std::make_unique<Reponse>(m_state, *m_form, *m_smtp);
    m_sequenceur = std::make_unique<Sequenceur>(m_state, *m_form, *m_session, *m_traitement, *m_reponse);
    m_traitement->setSequenceur(m_sequenceur.get());
    new OutilsOperateur(m_state, *m_form, this);

    connect(m_form->configuration_mail, &QPushButton::clicked, this, &Serveur::configuration_mail_click);
    connect(m_form->end, &QPushButton::clicked, this, &Serveur::end_click);
    connect(m_form->cre_clefs, &QPushButton::clicked, this, &Serveur::cre_clefs_click);
    connect(m_form.get(), &Form1::fermeture, this, &Serveur::arret);
    connect(m_conf, &conf_mail::enregistrer, this, &Serveur::enregistre_click);
    connect(m_conf, &conf_mail::abandon, this, &Serveur::abandon_configuration);
    connect(m_form->Timer1, &QTimer::timeout, this, [this] { journal::verifie_mois(m_state); });
}

Serveur::~Serveur() = default;

bool Serveur::demarrer()
{
    m_state.fichier_ini = m_state.rep_appli + QStringLiteral("pop3.ini");

    MailSettingsFields fields;
    const bool adresseConfiguree = config::charge_config_mail(m_state, fields);
    const int tick = config::charge_config_timer(m_state, fields);
    m_conf->setFields(fields);
    m_champs = fields;
    m_form->T_sequenceur->setInterval(tick);
    if (!key_store::charger_clefs(m_state)) {
        platform::afficher_message(QStringLiteral("pas de fichier clef"));
        return false;
    }

    journal::initialise(m_state);
    m_sequenceur->raz_affichage();
    QApplication::processEvents();
    m_state.etape_sequenceur = 0;

    m_form->Timer1->start();
    if (adresseConfiguree)
        m_form->T_sequenceur->start();
    return true;
}

void Serveur::arret()
{
    if (m_arrete)
        return;
    m_arrete = true;
    m_form->T_sequenceur->stop();
    m_form->Timer1->stop();
    key_store::ecrire_clefs(m_state);
    m_fin(0);
}

void Serveur::configuration_mail_click()
{
    m_form->configuration_mail->setEnabled(false);
    m_form->T_sequenceur->stop();
    m_conf->show();
}

void Serveur::enregistre_click()
{
    MailSettingsFields fields = m_conf->fields();
    config::sauve_config_mail(m_state, fields);
    m_conf->setFields(fields);
    m_champs = fields;
    journal::ecrire_journal(m_state, QStringLiteral("   modifications configuration mail"));
    m_conf->hide();
    m_form->configuration_mail->setEnabled(true);
    m_form->T_sequenceur->start();
}

void Serveur::abandon_configuration()
{
    // Closing the dialog otherwise than by its button saves nothing but lets the
    // server go on as it was.
    m_conf->setFields(m_champs);
    m_form->configuration_mail->setEnabled(true);
    m_form->T_sequenceur->start();
}

void Serveur::end_click()
{
    m_session->Close();
    m_form->close();
}

void Serveur::cre_clefs_click()
{
    m_form->cre_clefs->setEnabled(false);
    if (key_store::cre_clefs(m_state))
        platform::afficher_message(
            QStringLiteral("Le fichier clef.dat a été généré avec succès , il contient 100 clefs"));
    else
        platform::afficher_message(QStringLiteral("le fichier clefs.dat n'a pas pu être écrit dans ")
                                   + m_state.rep_appli);
    m_form->cre_clefs->setEnabled(true);
}
