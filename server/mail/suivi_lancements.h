#pragma once

#include "server/frame/config_reponse.h"
#include "server/frame/horloge.h"
#include "server/frame/server_state.h"
#include "server/frame/signalement.h"
#include "server/mail/boite_envoi.h"
#include "server/mail/lancements_en_cours.h"
#include "server/mail/message_en_cours.h"
#include "server/mail/textes_resultat.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class Affichage;
class QSocketNotifier;

// The batch files the server launched, followed to their end. Each runs in a
// process group of its own, its output kept in sorties/ of the server's folder,
// and is on a durable record before it starts. Its end is journalled and shown
// in the message log; with "resultat=oui" its sender gets a second mail through
// the outbox. A group past "duree_max" is ended. The server never waits for a
// batch file: one still running when the server stops runs on, and is reported
// as interrupted when the server starts again.
class SuiviLancements : public QObject
{
    Q_OBJECT

public:
    // Runs work between the cycle's mail calls; false when one is under way.
    using HorsCycle = std::function<bool(const std::function<void()> &travail)>;
    // Sends what the outbox holds.
    using Envoi = std::function<void()>;

    // How long a stopped group is given between SIGTERM and SIGKILL.
    static constexpr int kDelaiSigkillMs = 10000;

    SuiviLancements(ServerState &state, Affichage &affichage, Horloge horloge,
                    QObject *parent = nullptr);
    ~SuiviLancements() override;

    void relier(HorsCycle hors_cycle, Envoi envoi);

    // At start-up, with the settings of section "reponse": the batch files an
    // earlier run left on the record are reported as interrupted.
    void demarrer(const ReglagesResultat &reglages);
    // At shut-down: the ends seen and not yet stored are stored, unsent. The
    // batch files still running run on.
    void arreter();

    // Launches the mail's command in the actions folder; numero is the number
    // of its reply when its sender is answered. Answers as the shell does:
    // above 32 when the batch file started.
    qint32 lance(const MessageEnCours &m, std::optional<qint16> numero);

    int en_cours() const { return int(m_suivis.size()); }

    // "sorties/" in the server's folder.
    static QString dossier_sorties(const QString &rep_appli);

private:
    struct Suivi {
        LancementEnCours lancement;
        QElapsedTimer chrono;
        int pidfd = -1;
        QSocketNotifier *notifier = nullptr;
        QTimer *sondage = nullptr; // where the kernel gives no pidfd
        QTimer *limite = nullptr;
        bool arret_demande = false;
    };
    // An end seen, to be stored and sent between the cycle's mail calls.
    struct Fin {
        LancementEnCours lancement;
        IssueLancement issue;
        QString fin_sortie;
    };

    QString nouvelle_sortie(const QString &commande, const QDateTime &moment, int *fd) const;
    void suit(const LancementEnCours &lancement, int pidfd);
    void verifie(qint64 pid);
    void depasse(qint64 pid);
    void libere(Suivi &suivi);
    void planifie();
    void traite_fins(bool envoyer);
    [[nodiscard]] bool stocke(const Fin &fin);

    ServerState &m_state;
    Horloge m_horloge;
    Signalement m_signalement;
    BoiteEnvoi m_boite_envoi;
    LancementsEnCours m_record;
    ReglagesResultat m_reglages;
    HorsCycle m_hors_cycle;
    Envoi m_envoi;
    std::map<qint64, std::unique_ptr<Suivi>> m_suivis; // by pid
    QList<Fin> m_fins;
    QTimer m_relance;
};
