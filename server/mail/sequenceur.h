#pragma once

#include "server/frame/horloge.h"
#include "server/frame/server_state.h"
#include "server/frame/signalement.h"
#include "server/mail/espacement_releve.h"
#include "server/mail/etat_releve.h"

#include <QObject>

#include <functional>
#include <optional>

class Affichage;
struct MessageEnCours;
class Pop3Session;
class Reponse;
class Traitement;

// The polling cycle: each tick of T_sequenceur advances etape_sequenceur; tick 1
// clears the per-cycle fields, 2 opens the mailbox, 3 processes one message, 6
// closes the mailbox, 8 sends the waiting reply, 9 puts the lamp out, and
// duree_cycle starts the next cycle. It also shows the session's events.
//
// The mail calls keep the event loop running while they wait, so a tick can
// arrive while an earlier tick's work is still running: such a tick is not
// counted, and the steps always run in order, never overlapping.
//
// After a refused login or an unreachable server the mailbox is opened only
// every few cycles (EspacementReleve); the other steps still run, so replies
// waiting in the outbox keep going out.
class Sequenceur : public QObject
{
    Q_OBJECT

public:
    // The ticks of a cycle that carry work; every other tick only counts.
    enum Etape : qint16 {
        EffaceChamps = 1,
        OuvreSession = 2,
        TraiteMessage = 3,
        FermeSession = 6,
        EnvoieReponse = 8,
        EteintLampe = 9,
    };

    Sequenceur(ServerState &state, Affichage &affichage, Pop3Session &session,
               Traitement &traitement, Reponse &reponse, Horloge horloge,
               QObject *parent = nullptr);

    // The T_sequenceur tick handler.
    void tick();
    bool occupe() const { return m_occupe; }
    // Runs work between the ticks' mail calls, never inside one, and holds the
    // ticks meanwhile; false, with nothing run, while a tick's work goes on.
    bool hors_cycle(const std::function<void()> &travail);

    // A cycle now (the doorbell rang): the next tick starts one between
    // cycles; during one, it follows as soon as that one is over.
    void demarre_cycle();
    // With the doorbell: a cycle that leaves mails it could take in the box
    // is followed by the next one at once.
    void enchaine_cycles(bool oui) { m_enchaine = oui; }

    // The length of one tick, which with duree_cycle gives a cycle's length.
    void fixer_tick(int millisecondes) { m_tick_ms = millisecondes; }
    // New settings: a polling spaced out by failed logins starts again at the
    // next tick. True when it was spaced out.
    bool reprendre_releve();
    const EspacementReleve &espacement() const { return m_espacement; }
    // The state as the last cycle left it.
    EtatReleve etat() const;

    void connection();
    void remplit_liste();
    void raz_affichage();
    void efface_champs();
    void ferme_session();

Q_SIGNALS:
    // A tick was counted: the cycle goes on.
    void battement();
    // A cycle ended, or the polling was spaced out or came back: etat() changed.
    void etat_change();

private:
    void oSession_Connected();
    void oSession_Closed();
    void oSession_ErrorPOP3(qint16 Number, const QString &Description);
    void oSession_StatusChanged(const QString &Status, qint32 StatusType);
    void etape(qint16 n);
    void traite_message();
    void note_connexion(qint32 resultat);

    ServerState &m_state;
    Affichage &m_affichage;
    Pop3Session &m_session;
    Traitement &m_traitement;
    Reponse &m_reponse;
    Signalement m_signalement;
    bool m_occupe = false;
    bool m_cycle_demande = false;
    bool m_enchaine = false;
    bool m_reste_courrier = false;     // this cycle left mails it could take
    int m_cycles_sans_suppression = 0; // cycles running that deleted no mail
    int m_tick_ms = 1000;
    EspacementReleve m_espacement;
    QDateTime m_derniere_releve;
};

// The kinds of the POP3 session's status notifications.
enum TypeStatut : qint32 {
    StatutRecu = 1,   // a line from the server
    StatutEnvoye = 2, // a line to the server
    StatutInformation = 4,
    StatutErreur = 8,
};

// The two-character prefix of a status line by its type.
QString prefixe_statut(qint32 statusType);
