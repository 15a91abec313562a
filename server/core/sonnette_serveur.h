#pragma once

#include "server/frame/horloge.h"
#include "server/frame/signalement.h"
#include "server/mail/sonnette.h"

#include <QObject>

#include <memory>

class Affichage;
class Sequenceur;
struct ServerState;

// The doorbell as the server uses it: a ring starts a cycle, cycles follow one
// another while the box holds mails, a doorbell out of order is said once and
// its return in one line, and the window shows whether it is connected.
// Without [mail] serveur_imap nothing of this runs.
class SonnetteServeur : public QObject
{
    Q_OBJECT

public:
    SonnetteServeur(ServerState &state, Affichage &affichage, Sequenceur &sequenceur,
                    Horloge horloge, QObject *parent = nullptr);
    ~SonnetteServeur() override;

    void installer(std::unique_ptr<Sonnette> sonnette);
    // (Re)starts with the settings as they are now: the mailbox's login and
    // password, or the OAuth 2.0 token of the last cycle.
    void demarrer(bool jeton_oauth2);
    void arreter();

private:
    Sonnette::Acces acces() const;
    void montrer(const QString &texte);
    void sur_connexion();
    void sur_panne(const QString &raison);

    ServerState &m_state;
    Affichage &m_affichage;
    Sequenceur &m_sequenceur;
    Signalement m_signalement;
    std::unique_ptr<Sonnette> m_sonnette;
    bool m_jeton_oauth2 = false;
    bool m_en_marche = false;
    bool m_panne_signalee = false;
};
