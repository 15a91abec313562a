#pragma once

#include <QDateTime>

#include <QtGlobal>

#include <optional>

// When the mailbox is opened again after a failed login. Hosting providers
// lock an account after a few refused logins an hour, so after a refused
// password the next attempts come 2, 4, 8 ... cycles later, up to one hour
// apart; after a server that could not be reached, likewise up to a quarter of
// an hour. A login that works, or new settings, end the spacing.
//
// The sequencer asks a_essayer() once per cycle, at the tick that opens the
// mailbox, and says how the login went with resultat().
class EspacementReleve
{
public:
    enum class Cause {
        Aucune,
        MotDePasse, // the server refused the login
        Connexion,  // the server could not be reached or did not answer
    };

    // What a result changed, for the one journal line at each end of the spacing.
    enum class Changement { Aucun, Commence, Fini };

    static constexpr qint64 kPlafondMotDePasse = 60 * 60;
    static constexpr qint64 kPlafondConnexion = 15 * 60;

    // The length of one cycle, which turns the caps above into cycles.
    void fixer_duree_cycle(qint64 secondes) { m_duree_cycle = qMax<qint64>(1, secondes); }

    // True when this cycle opens the mailbox; every call is one cycle.
    bool a_essayer();
    // The outcome of the login tried this cycle.
    Changement resultat(Cause cause, const QDateTime &maintenant);
    // New settings: the next cycle tries at once. True when it was spaced out.
    bool reprendre();

    bool suspendue() const { return m_cause != Cause::Aucune; }
    Cause cause() const { return m_cause; }
    // The first and the last failure of the spacing, and when the next
    // attempt is expected.
    QDateTime depuis() const { return m_depuis; }
    QDateTime dernier_echec() const { return m_dernier_echec; }
    QDateTime prochain_essai() const { return m_prochain; }
    // Cycles between the last failed attempt and the next one.
    qint64 intervalle() const { return m_intervalle; }

    // What a login's outcome (Open's result, 0 or the session's error
    // number) says; nothing for a call that did not reach the server because
    // another was in flight or the server is stopping.
    static std::optional<Cause> cause_erreur(qint32 numero);

private:
    qint64 m_duree_cycle = 300;
    Cause m_cause = Cause::Aucune;
    int m_echecs = 0;
    qint64 m_intervalle = 1;
    qint64 m_a_passer = 0; // cycles still to let go by without a login
    QDateTime m_depuis;
    QDateTime m_dernier_echec;
    QDateTime m_prochain;
};
