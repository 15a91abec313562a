#include "server/core/serveur.h"

#include "platform/message_box.h"
#include "platform/shell_launch.h"
#include "server/core/controle_dossier.h"
#include "server/core/fichier_etat.h"
#include "server/core/notification_systemd.h"
#include "server/core/resume_demarrage.h"
#include "server/core/sonnette_serveur.h"
#include "server/frame/config.h"
#include "server/frame/config_expediteurs.h"
#include "server/frame/config_reponse.h"
#include "server/frame/journal.h"
#include "server/keys/key_store.h"
#include "server/mail/pop3_session.h"
#include "server/mail/reponse.h"
#include "server/mail/sequenceur.h"
#include "server/mail/smtp_sender.h"
#include "server/mail/suivi_lancements.h"

#include <QCoreApplication>

namespace {
constexpr int kTickDefaut = 1000;
// The journal follows the turn of a month within a minute.
constexpr int kIntervalleMois = 60 * 1000;
// How often "Fin" looks again whether the mail call it ended has returned.
constexpr int kAttenteFinAppel = 20;
} // namespace

Environnement Environnement::systeme()
{
    return {&platform::ShellExecute, horloge_systeme(), true};
}

Serveur::Serveur(const QString &rep_appli, std::unique_ptr<Pop3Session> session,
                 std::unique_ptr<SmtpSender> smtp, FinProgramme fin, Environnement environnement,
                 QObject *parent)
    : QObject(parent), m_environnement(std::move(environnement)),
      m_affichage(m_environnement.horloge),
      m_signalement(m_state, m_affichage, m_environnement.horloge), m_session(std::move(session)),
      m_smtp(std::move(smtp)), m_fin(std::move(fin))
{
    m_state.rep_appli = rep_appli;
    m_traitement = std::make_unique<Traitement>(m_state, m_affichage, *m_session,
                                                m_environnement.lanceur, m_environnement.horloge);
    m_reponse = std::make_unique<Reponse>(m_state, m_affichage, *m_smtp, m_environnement.horloge);
    m_sequenceur = std::make_unique<Sequenceur>(m_state, m_affichage, *m_session, *m_traitement,
                                                *m_reponse, m_environnement.horloge);
    m_suivi = std::make_unique<SuiviLancements>(m_state, m_affichage, m_environnement.horloge);
    m_suivi->relier([this](const auto &travail) { return m_sequenceur->hors_cycle(travail); },
                    [this] { m_reponse->sendmail2(); });
    if (m_environnement.suivi_lancements)
        m_traitement->suivre(m_suivi.get());

    m_sonnette = std::make_unique<SonnetteServeur>(m_state, m_affichage, *m_sequenceur,
                                                   m_environnement.horloge);

    m_T_sequenceur.setObjectName(QStringLiteral("T_sequenceur"));
    m_T_sequenceur.setInterval(kTickDefaut);
    m_Timer1.setObjectName(QStringLiteral("Timer1"));
    m_Timer1.setInterval(kIntervalleMois);
    connect(&m_T_sequenceur, &QTimer::timeout, m_sequenceur.get(), &Sequenceur::tick);
    connect(&m_Timer1, &QTimer::timeout, this,
            [this] { journal::verifie_mois(m_state, m_environnement.horloge()); });
    // The watchdog hears from the cycle's ticks; while the polling waits for
    // its settings, from the month check, so that a server left without a
    // reply address is not taken for a hung one.
    connect(m_sequenceur.get(), &Sequenceur::battement, this, &notification_systemd::battement);
    connect(&m_Timer1, &QTimer::timeout, this, [this] {
        if (!m_T_sequenceur.isActive())
            notification_systemd::battement();
    });
    connect(m_sequenceur.get(), &Sequenceur::etat_change, this, &Serveur::publier_etat);
}

Serveur::~Serveur() = default;

bool Serveur::demarrer()
{
    m_state.fichier_ini = m_state.rep_appli + QStringLiteral("pop3.ini");

    MailSettingsFields fields;
    const bool adresseConfiguree = config::charge_config_mail(m_state, fields);
    const int tick = config::charge_config_timer(m_state, fields);
    m_state.expediteurs = config::charge_config_expediteurs(m_state.fichier_ini);
    m_champs = fields;
    m_T_sequenceur.setInterval(tick);
    m_sequenceur->fixer_tick(tick);
    if (!key_store::charger_clefs(m_state)) {
        platform::afficher_message(controle_dossier::texte_clefs_non_chargees(m_state));
        return false;
    }

    journal::initialise(m_state, m_environnement.horloge());
    // Found now rather than at the first mail, which could not be kept.
    if (const QStringList fautes = controle_dossier::controle_ecriture(m_state);
        !fautes.isEmpty()) {
        platform::afficher_message(fautes.join(u'\n'));
        return false;
    }
    for (const QString &ligne : resume_demarrage::lignes(m_state, fields.connexion_oauth2,
                                                         QStringLiteral(PROJECT_VERSION)))
        m_signalement.information(ligne);
    if (!adresseConfiguree)
        m_signalement.erreur(resume_demarrage::texte_sans_adresse_reponse());
    m_suivi->demarrer(config::charge_config_reponse(m_state.fichier_ini));
    m_sequenceur->raz_affichage();
    QCoreApplication::processEvents();
    m_state.etape_sequenceur = 0;

    m_Timer1.start();
    if (adresseConfiguree)
        m_T_sequenceur.start();
    if (adresseConfiguree)
        m_sonnette->demarrer(m_champs.connexion_oauth2);
    // etat.txt comes with the first cycle: a server that waits for its
    // settings writes nothing into its folder.
    notification_systemd::pret(etat_courant().texte());
    return true;
}

EtatReleve Serveur::etat_courant() const
{
    EtatReleve etat = m_sequenceur->etat();
    if (!m_T_sequenceur.isActive() && !config::adresse_reponse_configuree(m_state.adresse_reponse))
        etat.arret = QStringLiteral("aucune adresse de réponse dans pop3.ini");
    return etat;
}

void Serveur::publier_etat()
{
    const EtatReleve etat = etat_courant();
    const QString texte = etat.texte();
    notification_systemd::statut(texte);
    m_affichage.fixer(Champ::releve, texte);
    QString erreur;
    if (!fichier_etat::ecrire(m_state.rep_appli, etat, &erreur) && erreur != m_erreur_etat)
        m_signalement.erreur(QStringLiteral("l'état n'a pas pu être écrit : ") + erreur);
    // Said once until it changes: a full disk would otherwise fill the log each cycle.
    m_erreur_etat = erreur;
}

void Serveur::arret()
{
    if (m_arrete)
        return;
    m_arrete = true;
    m_T_sequenceur.stop();
    m_Timer1.stop();
    m_sonnette->arreter();
    m_suivi->arreter();
    bool relu = false;
    if (!key_store::ecrire_clefs(m_state, &relu)) {
        // The key file on disk is whole (the older one, never shorter); the
        // codes struck since it was last written were each written at once.
        m_signalement.erreur(QStringLiteral("le fichier clefs n'a pas pu être réécrit : ") +
                             m_state.fichier_clefs);
    }
    if (relu)
        journal::ecrire_journal(m_state, key_store::texte_relu_arret(), m_environnement.horloge());
    m_fin(0);
}

void Serveur::fin()
{
    // No new cycle step may start a mail call from now on.
    m_T_sequenceur.stop();
    if (m_session->Busy()) {
        // "Fin" pressed while a mail call waits: that call is ended first (the
        // session then says QUIT, so deletions made still take effect), and the
        // shut-down runs once the call has returned.
        m_session->Cancel();
        QTimer::singleShot(kAttenteFinAppel, this, &Serveur::fin);
        return;
    }
    m_session->Close();
    arret();
}

void Serveur::ouvrir_configuration()
{
    m_sondageAvantConfiguration = m_T_sequenceur.isActive();
    m_T_sequenceur.stop();
}

void Serveur::enregistrer_configuration(MailSettingsFields &fields)
{
    if (!config::sauve_config_mail(m_state, fields)) {
        const QString text =
            QStringLiteral("la configuration n'a pas pu être écrite dans ") + m_state.fichier_ini;
        m_affichage.erreur(text);
        platform::afficher_message(text);
    }
    m_champs = fields;
    m_signalement.journal(QStringLiteral("   modifications configuration mail"));
    // New settings are tried at once, whatever the failed logins before them.
    if (m_sequenceur->reprendre_releve()) {
        m_state.etape_sequenceur = 0;
        m_signalement.information(QStringLiteral("relève reprise : nouveaux réglages, nouvel "
                                                 "essai tout de suite"));
        publier_etat();
    }
    // Without a reply address every reply would fail: the mailbox waits, as at start-up.
    if (config::adresse_reponse_configuree(m_state.adresse_reponse)) {
        m_T_sequenceur.start();
        // The login, the password or the sign-in may have changed.
        m_sonnette->demarrer(fields.connexion_oauth2);
        return;
    }
    m_T_sequenceur.stop();
    m_signalement.erreur(resume_demarrage::texte_sans_adresse_reponse());
}

void Serveur::enregistrer_expediteurs(const ReglesExpediteurs &regles)
{
    m_state.expediteurs = regles;
    if (!config::sauve_config_expediteurs(regles, m_state.fichier_ini)) {
        const QString text =
            QStringLiteral("la configuration n'a pas pu être écrite dans ") + m_state.fichier_ini;
        m_affichage.erreur(text);
        platform::afficher_message(text);
    }
    journal::ecrire_journal(m_state, QStringLiteral("   modifications expéditeurs autorisés"),
                            m_environnement.horloge());
}

void Serveur::abandonner_configuration()
{
    // A server that was not polling (no reply address yet) must not start
    // polling the default server because a dialog was closed.
    if (m_sondageAvantConfiguration)
        m_T_sequenceur.start();
}

void Serveur::installer_sonnette(std::unique_ptr<Sonnette> sonnette)
{
    m_sonnette->installer(std::move(sonnette));
}

void Serveur::cre_clefs()
{
    if (key_store::cre_clefs(m_state))
        platform::afficher_message(
            QStringLiteral("Le fichier clef.dat a été généré avec succès , il contient 100 clefs"));
    else
        platform::afficher_message(
            QStringLiteral("le fichier clefs.dat n'a pas pu être écrit dans ") + m_state.rep_appli);
}
