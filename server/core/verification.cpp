#include "server/core/verification.h"

#include "platform/droits_fichier.h"
#include "server/core/controle_dossier.h"
#include "server/core/oauth/oauth_jeton.h"
#include "server/core/resume_demarrage.h"
#include "server/frame/config.h"
#include "server/frame/journal.h"
#include "server/frame/oauth_settings.h"
#include "server/keys/key_store.h"
#include "server/mail/pop3_session.h"
#include "server/mail/smtp_sender.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// The port the polling cycle gives a POP3 setting that names none.
constexpr qint32 kPortPop3 = 110;

} // namespace

Verification::Verification(const QString &rep_appli, Pop3Session &session, SmtpSender &smtp,
                           SourceJeton &jetons, Sortie sortie)
    : m_session(session), m_smtp(smtp), m_jetons(jetons), m_sortie(std::move(sortie))
{
    m_state.rep_appli = rep_appli;
}

void Verification::dire(bool reussi, const QString &texte)
{
    m_reussi = m_reussi && reussi;
    m_sortie(reussi, texte);
}

bool Verification::executer()
{
    reglages();
    fichiers();
    if (m_oauth2)
        jeton();
    pop3();
    smtp();
    return m_reussi;
}

void Verification::droits_prives(const QString &nom, const QString &chemin)
{
    struct stat fichier {
    };
    struct stat dossier {
    };
    if (::stat(QFile::encodeName(chemin).constData(), &fichier) != 0 ||
        ::stat(QFile::encodeName(m_state.rep_appli).constData(), &dossier) != 0)
        return;
    if ((fichier.st_mode & (S_IRGRP | S_IROTH)) == 0 ||
        (dossier.st_mode & (S_IXGRP | S_IXOTH)) == 0)
        return;
    dire(false,
         QStringLiteral("%1 est lisible par d'autres utilisateurs (%2, dossier %3) : "
                        "chmod 600 %4 ou chmod 700 %5")
             .arg(nom, platform::proprietaire_et_droits(chemin),
                  platform::proprietaire_et_droits(m_state.rep_appli), chemin, m_state.rep_appli));
}

void Verification::reglages()
{
    m_state.fichier_ini = m_state.rep_appli + QStringLiteral("pop3.ini");
    if (!platform::existe(m_state.fichier_ini)) {
        dire(false, QStringLiteral("pop3.ini absent (%1) : les réglages par défaut s'appliquent")
                        .arg(m_state.fichier_ini));
    } else if (QFile file(m_state.fichier_ini); !file.open(QIODevice::ReadOnly)) {
        dire(false,
             QStringLiteral("pop3.ini illisible (%1) : %2")
                 .arg(platform::proprietaire_et_droits(m_state.fichier_ini), m_state.fichier_ini));
    } else {
        dire(true, QStringLiteral("réglages lus dans ") + m_state.fichier_ini);
        droits_prives(QStringLiteral("pop3.ini"), m_state.fichier_ini);
    }
    MailSettingsFields fields;
    const bool adresse = config::charge_config_mail(m_state, fields);
    config::charge_config_timer(m_state, fields);
    m_oauth2 = fields.connexion_oauth2;
    for (const QString &correction : m_state.reglages_corriges)
        dire(false, QStringLiteral("réglage corrigé dans pop3.ini : ") + correction);
    if (adresse)
        dire(true, QStringLiteral("adresse de réponse : ") + m_state.adresse_reponse);
    else
        dire(false, resume_demarrage::texte_sans_adresse_reponse());
}

void Verification::fichiers()
{
    if (!key_store::charger_clefs(m_state)) {
        dire(false, controle_dossier::texte_clefs_non_chargees(m_state));
    } else {
        const int clefs = key_store::clefs_restantes(m_state);
        if (clefs == 0)
            dire(false, QStringLiteral("clefs.dat ne contient plus aucune clef inutilisée : "
                                       "créez-en un nouveau et donnez-le aux clients"));
        else
            dire(true, QStringLiteral("clefs.dat : %1 clef(s) inutilisée(s)").arg(clefs));
        droits_prives(QStringLiteral("clefs.dat"), m_state.fichier_clefs);
    }

    // The journal's name for this month; nothing is written to it.
    journal::initialise(m_state, QDateTime::currentDateTime());
    const QStringList fautes = controle_dossier::controle_ecriture(m_state);
    for (const QString &faute : fautes)
        dire(false, faute);
    if (fautes.isEmpty())
        dire(true, QStringLiteral("dossier du serveur, archives et journal accessibles en "
                                  "écriture pour l'utilisateur ") +
                       platform::utilisateur_courant());

    const int bat = controle_dossier::nombre_fichiers_bat(m_state.rep_actions);
    if (bat < 0)
        dire(false, QStringLiteral("dossier des actions %1 introuvable ou fermé à la lecture "
                                   "(repertoire_commande dans pop3.ini)")
                        .arg(m_state.rep_actions));
    else if (bat == 0)
        dire(false, QStringLiteral("dossier des actions %1 : aucun fichier .bat, aucune commande "
                                   "ne peut être lancée")
                        .arg(m_state.rep_actions));
    else
        dire(true, QStringLiteral("dossier des actions %1 : %2 fichier(s) .bat")
                       .arg(m_state.rep_actions)
                       .arg(bat));
}

void Verification::jeton()
{
    const oauth2::Reglages reglages = m_jetons.reglages();
    if (const QString erreur = oauth2::verifie(reglages); !erreur.isEmpty()) {
        dire(false, QStringLiteral("OAuth2 : ") + erreur);
        return;
    }
    droits_prives(QStringLiteral("jeton_oauth2.dat"), fichier_jeton::chemin(m_state.rep_appli));
    m_jetons.forcer_renouvellement();
    const SourceJeton::Resultat r = m_jetons.jeton();
    if (r.etat != SourceJeton::Resultat::Etat::Pret)
        dire(false, QStringLiteral("OAuth2 : ") + r.erreur);
    else if (!r.erreur.isEmpty())
        dire(false, QStringLiteral("OAuth2 : ") + r.erreur);
    else
        dire(true, QStringLiteral("OAuth2 : jeton renouvelé auprès de ") + reglages.url_jeton);
}

void Verification::pop3()
{
    QString erreur;
    const QMetaObject::Connection lien = QObject::connect(
        &m_session, &Pop3Session::ErrorPOP3, &m_session, [&erreur](qint16, const QString &texte) {
            if (erreur.isEmpty())
                erreur = texte;
        });
    const QString serveur =
        QStringLiteral("POP3 %1 (%2)")
            .arg(m_state.nom_serveur_pop, resume_demarrage::forme_serveur(m_state.nom_serveur_pop));
    if (m_session.Open(m_state.nom_serveur_pop, kPortPop3, m_state.login_pop, m_state.pass_pop) !=
        0) {
        dire(false, QStringLiteral("%1 : connexion du compte %2 impossible : %3")
                        .arg(serveur, m_state.login_pop, erreur));
    } else if (m_session.RefreshList() != 0) {
        dire(false, QStringLiteral("%1 : la liste des mails n'a pas pu être lue : %2")
                        .arg(serveur, erreur));
        m_session.Close();
    } else {
        dire(true, QStringLiteral("%1 : connecté en tant que %2, %3 mail(s) dans la boite "
                                  "(%4 octets), aucun relevé")
                       .arg(serveur, m_state.login_pop)
                       .arg(m_session.MailboxFigure1())
                       .arg(m_session.MailboxFigure2()));
        m_session.Close();
    }
    QObject::disconnect(lien);
}

void Verification::smtp()
{
    SmtpProperties &p = m_smtp.properties;
    p.server = m_state.nom_serveur_smtp;
    // As the replies will be sent: the mailbox account signs in when asked to.
    p.username = m_state.auth_smtp ? m_state.login_pop : QString();
    p.password = m_state.auth_smtp ? m_state.pass_pop : QString();
    const QString serveur = QStringLiteral("SMTP %1 (%2)")
                                .arg(m_state.nom_serveur_smtp,
                                     resume_demarrage::forme_serveur(m_state.nom_serveur_smtp));
    if (!m_smtp.checkconnection()) {
        dire(false, QStringLiteral("%1 : %2").arg(serveur, m_smtp.statustext()));
        return;
    }
    dire(true,
         QStringLiteral("%1 : connexion acceptée, %2, aucun mail envoyé")
             .arg(serveur, m_state.auth_smtp ? QStringLiteral("authentification du compte ") +
                                                   m_state.login_pop + QStringLiteral(" réussie")
                                             : QStringLiteral("sans authentification "
                                                              "(authentification=off)")));
}
