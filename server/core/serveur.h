#pragma once

#include "server/frame/affichage.h"
#include "server/frame/horloge.h"
#include "server/frame/mail_settings.h"
#include "server/frame/server_state.h"
#include "server/frame/signalement.h"
#include "server/mail/etat_releve.h"
#include "server/mail/traitement.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class Pop3Session;
class SmtpSender;
class Reponse;
class Sequenceur;
class Sonnette;
class SonnetteServeur;
class SuiviLancements;

// What the server takes from the system: how a batch file is started and what
// time it is. Tests give their own.
struct Environnement {
    Traitement::Lanceur lanceur;
    Horloge horloge = horloge_systeme();
    // Batch files followed to their end (output kept, end journalled, result
    // mailed) rather than started through the lanceur.
    bool suivi_lancements = false;

    static Environnement systeme();
};

// The server as a whole, without any window: its state, the fields its main
// window shows, its timers and its two mail components. It runs the start-up,
// the operator's commands and the shut-down; the polling cycle is the
// Sequenceur's. A window, when there is one, shows affichage() and forwards its
// buttons here.
class Serveur : public QObject
{
    Q_OBJECT

public:
    // Called once the key file is written back at shut-down: the program then
    // ends with that code.
    using FinProgramme = std::function<void(int code)>;

    Serveur(const QString &rep_appli, std::unique_ptr<Pop3Session> session,
            std::unique_ptr<SmtpSender> smtp, FinProgramme fin,
            Environnement environnement = Environnement::systeme(), QObject *parent = nullptr);
    ~Serveur() override;

    // The start-up, up to the moment the window can be shown. False when the key
    // file could not be opened: the message was given and the program is to end.
    bool demarrer();

    // Runs the shut-down: the key file is written back and the program ends.
    void arret();
    // "Fin": the mailbox session is closed, then the shut-down runs.
    void fin();

    // "Configuration MAIL": the polling waits while the settings are edited.
    void ouvrir_configuration();
    // The dialog's button: saves the fields (rewritten as saved) and polls,
    // once a reply address is set.
    void enregistrer_configuration(MailSettingsFields &fields);
    // The dialog closed otherwise: nothing is saved and the polling is as it was
    // when the dialog opened.
    void abandonner_configuration();
    // The settings as last loaded or saved.
    const MailSettingsFields &configuration() const { return m_champs; }
    // The allowed senders' dialog: saves and applies from the next mail on.
    void enregistrer_expediteurs(const ReglesExpediteurs &regles);

    // The doorbell ([mail] serveur_imap), given before demarrer().
    void installer_sonnette(std::unique_ptr<Sonnette> sonnette);

    // "Création d'un fichier clefs": a new key file, and a message saying how it went.
    void cre_clefs();

    ServerState &state() { return m_state; }
    Affichage &affichage() { return m_affichage; }
    QTimer &T_sequenceur() { return m_T_sequenceur; }
    QTimer &Timer1() { return m_Timer1; }
    Pop3Session &oSession() { return *m_session; }
    SmtpSender &SMTP1() { return *m_smtp; }
    Sequenceur &sequenceur() { return *m_sequenceur; }
    SuiviLancements &suivi() { return *m_suivi; }

    // Says the state to the service manager (STATUS=) and writes it to etat.txt.
    void publier_etat();
    // The state as the service manager and etat.txt show it.
    EtatReleve etat_courant() const;

private:
    ServerState m_state;
    Environnement m_environnement;
    Affichage m_affichage;
    Signalement m_signalement;
    QTimer m_T_sequenceur;
    QTimer m_Timer1;
    std::unique_ptr<Pop3Session> m_session;
    std::unique_ptr<SmtpSender> m_smtp;
    std::unique_ptr<Traitement> m_traitement;
    std::unique_ptr<Reponse> m_reponse;
    std::unique_ptr<Sequenceur> m_sequenceur;
    std::unique_ptr<SonnetteServeur> m_sonnette;
    std::unique_ptr<SuiviLancements> m_suivi;
    MailSettingsFields m_champs; // as last loaded or saved
    FinProgramme m_fin;
    bool m_sondageAvantConfiguration = false;
    bool m_arrete = false;
    QString m_erreur_etat; // the last failure to write etat.txt, said once
};
