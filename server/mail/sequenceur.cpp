#include "server/mail/sequenceur.h"

#include "server/frame/affichage.h"
#include "server/keys/key_store.h"
#include "server/mail/message_en_cours.h"
#include "server/mail/pop3_session.h"
#include "server/mail/reponse.h"
#include "server/mail/traitement.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <exception>

namespace {
constexpr qint32 kPortPop3 = 110;
} // namespace

QString prefixe_statut(qint32 statusType)
{
    switch (statusType) {
    case StatutRecu:
        return QStringLiteral("< ");
    case StatutEnvoye:
        return QStringLiteral("> ");
    case StatutInformation:
        return QStringLiteral("# ");
    case StatutErreur:
        return QStringLiteral("! ");
    default:
        return QStringLiteral("? ");
    }
}

Sequenceur::Sequenceur(ServerState &state, Affichage &affichage, Pop3Session &session,
                       Traitement &traitement, Reponse &reponse, Horloge horloge, QObject *parent)
    : QObject(parent), m_state(state), m_affichage(affichage), m_session(session),
      m_traitement(traitement), m_reponse(reponse),
      m_signalement(state, affichage, std::move(horloge))
{
    connect(&m_session, &Pop3Session::Connected, this, &Sequenceur::oSession_Connected);
    connect(&m_session, &Pop3Session::Closed, this, &Sequenceur::oSession_Closed);
    connect(&m_session, &Pop3Session::ErrorPOP3, this, &Sequenceur::oSession_ErrorPOP3);
    connect(&m_session, &Pop3Session::ServerFault, this,
            [this](const QString &Description) { m_signalement.erreur(Description); });
    connect(&m_session, &Pop3Session::StatusChanged, this, &Sequenceur::oSession_StatusChanged);
}

void Sequenceur::tick()
{
    // A tick that comes while the mail work of an earlier one waits is not counted.
    if (m_occupe)
        return;
    m_occupe = true;
    const auto libere = qScopeGuard([this] { m_occupe = false; });

    m_state.etape_sequenceur = qint16(m_state.etape_sequenceur + 1);
    m_affichage.fixer(Champ::Label14, QString::number(m_state.etape_sequenceur));
    Q_EMIT battement();
    try {
        etape(m_state.etape_sequenceur);
    } catch (const std::exception &e) {
        // Nothing that goes wrong with one mail may stop the polling.
        m_signalement.erreur(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        m_signalement.erreur(QStringLiteral("erreur inattendue pendant le cycle"));
    }
    // Once the cycle's work is over, a cycle asked for meanwhile starts at
    // the next tick.
    if (m_state.etape_sequenceur == EteintLampe && m_enchaine && m_reste_courrier)
        m_cycle_demande = true;
    if (m_cycle_demande && m_state.etape_sequenceur >= EteintLampe) {
        m_cycle_demande = false;
        m_state.etape_sequenceur = 0;
    }
}

void Sequenceur::demarre_cycle()
{
    // Never in the middle of a cycle: steps 1 to 9 always run whole, in order.
    if (!m_occupe && (m_state.etape_sequenceur == 0 || m_state.etape_sequenceur >= EteintLampe))
        m_state.etape_sequenceur = 0;
    else
        m_cycle_demande = true;
}

bool Sequenceur::hors_cycle(const std::function<void()> &travail)
{
    if (m_occupe)
        return false;
    m_occupe = true;
    const auto libere = qScopeGuard([this] { m_occupe = false; });
    try {
        travail();
    } catch (const std::exception &e) {
        m_signalement.erreur(QString::fromLocal8Bit(e.what()));
    }
    return true;
}

void Sequenceur::etape(qint16 n)
{
    switch (n) {
    case EffaceChamps:
        efface_champs();
        return;
    case OuvreSession:
        m_espacement.fixer_duree_cycle(qint64(m_tick_ms) * m_state.duree_cycle / 1000);
        if (!m_espacement.a_essayer())
            return;
        m_affichage.allumer(Lampe::Verte);
        QCoreApplication::processEvents();
        connection();
        return;
    case TraiteMessage:
        traite_message();
        return;
    case FermeSession:
        ferme_session();
        QCoreApplication::processEvents();
        m_affichage.allumer(Lampe::Eteinte);
        return;
    case EnvoieReponse:
        // Every cycle, so that replies a server refused earlier are tried again.
        if (m_state.reponse_a_envoyer)
            m_affichage.allumer(Lampe::VertClair);
        m_reponse.sendmail2();
        m_state.reponse_a_envoyer = false;
        Q_EMIT etat_change();
        return;
    case EteintLampe:
        m_affichage.allumer(Lampe::Eteinte);
        return;
    default:
        if (n >= m_state.duree_cycle)
            m_state.etape_sequenceur = 0;
        return;
    }
}

void Sequenceur::traite_message()
{
    remplit_liste();
    // The list as the box gave it: the session's events may empty the shown one.
    const QList<LigneBoite> liste = m_affichage.champs().lvwmessages;
    const auto reste = qScopeGuard([this, &liste] {
        // Chained while the box holds mails that can be taken. A cycle that
        // deleted none (a fetch or a deletion failed) is tried again at once,
        // a few times running: enough for a mail whose fetch keeps failing
        // to be set aside and the next one taken, never a loop of logins.
        const bool supprime = m_traitement.a_supprime();
        m_cycles_sans_suppression = supprime ? 0 : m_cycles_sans_suppression + 1;
        const qsizetype restants = m_traitement.a_prendre(liste) - (supprime ? 1 : 0);
        m_reste_courrier =
            restants > 0 && m_cycles_sans_suppression <= Traitement::kEchecsReleveMax;
    });
    const std::optional<MessageEnCours> message = m_traitement.traite_message();
    // Marked over before the answer is stored: a crash between the two
    // leaves the mail unanswered, never answered twice.
    m_traitement.termine_jugement();
    m_state.reponse_a_envoyer = message && message->a_repondre;
    // Stored before the session's end makes the deletion final.
    if (m_state.reponse_a_envoyer)
        m_reponse.prepare_reponse(*message);
}

void Sequenceur::connection()
{
    note_connexion(
        m_session.Open(m_state.nom_serveur_pop, kPortPop3, m_state.login_pop, m_state.pass_pop));
}

void Sequenceur::note_connexion(qint32 resultat)
{
    const std::optional<EspacementReleve::Cause> cause = EspacementReleve::cause_erreur(resultat);
    if (!cause)
        return;
    const QDateTime maintenant = m_signalement.maintenant();
    if (*cause == EspacementReleve::Cause::Aucune)
        m_derniere_releve = maintenant;
    switch (m_espacement.resultat(*cause, maintenant)) {
    case EspacementReleve::Changement::Commence:
        // Said once; each refused attempt still says its own error.
        m_signalement.avertissement(
            QStringLiteral("relève suspendue : %1, nouvel essai à %2, puis à des intervalles "
                           "doublés à chaque échec jusqu'à %3")
                .arg(texte_cause(*cause), texte_heure(m_espacement.prochain_essai(), maintenant),
                     *cause == EspacementReleve::Cause::MotDePasse
                         ? QStringLiteral("une heure")
                         : QStringLiteral("un quart d'heure")));
        Q_EMIT etat_change();
        break;
    case EspacementReleve::Changement::Fini:
        m_signalement.information(QStringLiteral("relève reprise : la connexion à la boîte a "
                                                 "réussi"));
        Q_EMIT etat_change();
        break;
    case EspacementReleve::Changement::Aucun:
        break;
    }
}

bool Sequenceur::reprendre_releve() { return m_espacement.reprendre(); }

EtatReleve Sequenceur::etat() const
{
    EtatReleve etat;
    etat.maintenant = m_signalement.maintenant();
    etat.derniere_releve = m_derniere_releve;
    etat.clefs = key_store::clefs_restantes(m_state);
    etat.reponses_en_attente = m_reponse.en_attente();
    etat.cause = m_espacement.cause();
    etat.dernier_echec = m_espacement.dernier_echec();
    etat.prochain_essai = m_espacement.prochain_essai();
    return etat;
}

void Sequenceur::remplit_liste()
{
    m_session.RefreshList();
    m_affichage.fixer(Champ::Label6, QString::number(m_session.MailboxFigure1()));
    m_affichage.fixer(Champ::Label7, QString::number(m_session.MailboxFigure2()));
    QList<LigneBoite> lignes;
    const QList<Pop3MessageInfo> list = m_session.MessageList();
    for (const Pop3MessageInfo &info : list)
        lignes.append({info.MsgNumber, info.MsgSize, info.Uidl});
    m_affichage.fixer_liste(lignes);
}

void Sequenceur::raz_affichage()
{
    m_affichage.fixer(Champ::Label5, QStringLiteral("0"));
    m_affichage.fixer(Champ::Label6, QStringLiteral("0"));
    m_affichage.fixer_liste({});
}

void Sequenceur::efface_champs()
{
    m_affichage.vider(Champ::txtstatus);
    m_affichage.vider(Champ::Text2);
    m_affichage.vider(Champ::Text5);
    m_state.reponse_a_envoyer = false;
}

void Sequenceur::ferme_session() { m_session.Close(); }

void Sequenceur::oSession_Connected()
{
    m_affichage.vider(Champ::txtstatus);
    remplit_liste();
    m_affichage.fixer(Champ::Label4, QStringLiteral("Connect"));
}

void Sequenceur::oSession_Closed()
{
    raz_affichage();
    m_affichage.fixer(Champ::Label4, QStringLiteral("Disconnect"));
}

void Sequenceur::oSession_ErrorPOP3(qint16 Number, const QString &Description)
{
    m_affichage.erreur_session(Number, Description);
    if (m_session.State() != Pop3Session::kStateTransaction)
        raz_affichage();
}

void Sequenceur::oSession_StatusChanged(const QString &Status, qint32 StatusType)
{
    m_affichage.ajouter(Champ::txtstatus,
                        prefixe_statut(StatusType) + Status + QStringLiteral("\r\n"));
}
