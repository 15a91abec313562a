#include "server/mail/espacement_releve.h"

namespace {
// The session's numbers (ErrorPOP3): a refused login, a call while another
// is in flight, a call ended because the server stops, no mail reader (a
// fault of this program, said on its own, not of the mailbox).
constexpr qint32 kAuthentificationRefusee = 9;
constexpr qint32 kOccupee = 12;
constexpr qint32 kInterrompue = 15;
constexpr qint32 kSansLecteur = 21;
} // namespace

bool EspacementReleve::a_essayer()
{
    if (m_a_passer <= 0)
        return true;
    --m_a_passer;
    return false;
}

EspacementReleve::Changement EspacementReleve::resultat(Cause cause, const QDateTime &maintenant)
{
    if (cause == Cause::Aucune) {
        const bool etait = suspendue();
        m_cause = Cause::Aucune;
        m_echecs = 0;
        m_intervalle = 1;
        m_a_passer = 0;
        m_depuis = {};
        m_dernier_echec = {};
        m_prochain = {};
        return etait ? Changement::Fini : Changement::Aucun;
    }
    const bool commence = !suspendue();
    if (commence || cause != m_cause) {
        // A refused password after an unreachable server is a new story: it
        // starts again from two cycles, under its own cap.
        m_echecs = 0;
        if (commence)
            m_depuis = maintenant;
    }
    m_cause = cause;
    m_dernier_echec = maintenant;
    ++m_echecs;
    const qint64 plafond =
        (cause == Cause::MotDePasse ? kPlafondMotDePasse : kPlafondConnexion) / m_duree_cycle;
    qint64 cycles = 1;
    for (int i = 0; i < m_echecs && cycles < plafond; ++i)
        cycles *= 2;
    m_intervalle = qMax<qint64>(1, qMin(cycles, plafond));
    m_a_passer = m_intervalle - 1;
    m_prochain = maintenant.addSecs(m_intervalle * m_duree_cycle);
    return commence ? Changement::Commence : Changement::Aucun;
}

bool EspacementReleve::reprendre()
{
    const bool etait = suspendue();
    resultat(Cause::Aucune, {});
    return etait;
}

std::optional<EspacementReleve::Cause> EspacementReleve::cause_erreur(qint32 numero)
{
    if (numero == kOccupee || numero == kInterrompue || numero == kSansLecteur)
        return std::nullopt;
    if (numero == 0)
        return Cause::Aucune;
    if (numero == kAuthentificationRefusee)
        return Cause::MotDePasse;
    // No server, no answer, a broken TLS, and also settings to mend (a bad
    // address, a sign-in the server does not offer): retried every cycle they
    // would fill the journal as well.
    return Cause::Connexion;
}
