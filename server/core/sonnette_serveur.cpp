#include "server/core/sonnette_serveur.h"

#include "server/frame/affichage.h"
#include "server/frame/oauth_token_file.h"
#include "server/frame/server_state.h"
#include "server/mail/sequenceur.h"

SonnetteServeur::SonnetteServeur(ServerState &state, Affichage &affichage, Sequenceur &sequenceur,
                                 Horloge horloge, QObject *parent)
    : QObject(parent), m_state(state), m_affichage(affichage), m_sequenceur(sequenceur),
      m_signalement(state, affichage, std::move(horloge))
{
}

SonnetteServeur::~SonnetteServeur() { arreter(); }

void SonnetteServeur::installer(std::unique_ptr<Sonnette> sonnette)
{
    arreter();
    m_sonnette = std::move(sonnette);
    if (!m_sonnette)
        return;
    connect(m_sonnette.get(), &Sonnette::courrier, this, [this] { m_sequenceur.demarre_cycle(); });
    connect(m_sonnette.get(), &Sonnette::connectee, this, &SonnetteServeur::sur_connexion);
    connect(m_sonnette.get(), &Sonnette::en_panne, this, &SonnetteServeur::sur_panne);
}

void SonnetteServeur::demarrer(bool jeton_oauth2)
{
    m_jeton_oauth2 = jeton_oauth2;
    if (m_state.nom_serveur_imap.isEmpty() || !m_sonnette) {
        arreter();
        return;
    }
    m_en_marche = true;
    m_panne_signalee = false;
    m_sequenceur.enchaine_cycles(true);
    montrer(QStringLiteral("Sonnette IMAP : connexion à ") + m_state.nom_serveur_imap);
    m_sonnette->demarrer(acces());
}

void SonnetteServeur::arreter()
{
    m_sequenceur.enchaine_cycles(false);
    if (!m_en_marche)
        return;
    m_en_marche = false;
    if (m_sonnette)
        m_sonnette->arreter();
    montrer(QString());
}

Sonnette::Acces SonnetteServeur::acces() const
{
    Sonnette::Acces acces{m_state.nom_serveur_imap, m_state.login_pop, m_state.pass_pop,
                          m_jeton_oauth2};
    if (m_jeton_oauth2) {
        // The cycle renews the token and keeps it in the file: the doorbell
        // takes it from there at each connection.
        const std::optional<JetonsOAuth2> jetons =
            fichier_jeton::lire(fichier_jeton::chemin(m_state.rep_appli));
        acces.secret = jetons ? jetons->access_token : QString();
    }
    return acces;
}

void SonnetteServeur::montrer(const QString &texte) { m_affichage.fixer(Champ::sonnette, texte); }

void SonnetteServeur::sur_connexion()
{
    if (m_panne_signalee)
        m_signalement.information(QStringLiteral("sonnette IMAP de nouveau connectée à ") +
                                  m_state.nom_serveur_imap);
    m_panne_signalee = false;
    montrer(QStringLiteral("Sonnette IMAP : connectée à ") + m_state.nom_serveur_imap);
    // A mail that came while it was away rang no bell.
    m_sequenceur.demarre_cycle();
}

void SonnetteServeur::sur_panne(const QString &raison)
{
    montrer(QStringLiteral("Sonnette IMAP : hors service (") + raison + u')');
    if (m_jeton_oauth2)
        m_sonnette->changer_acces(acces());
    if (m_panne_signalee)
        return;
    m_panne_signalee = true;
    m_signalement.erreur(QStringLiteral("sonnette IMAP : ") + raison +
                         QStringLiteral(" ; nouvel essai plus tard, la boite reste relevée "
                                        "toutes les ") +
                         QString::number(m_state.duree_cycle) + QStringLiteral(" s"));
}
