#pragma once

#include "common/key_file.h"
#include "server/frame/config_expediteurs.h"

#include <QString>
#include <QStringList>

#include <QtGlobal>

// The server's shared state: the variables that start-up, configuration,
// processing, replies and the key store all read and write. One instance lives
// as long as the server and is passed to whatever needs it.
struct ServerState {
    static constexpr int kSlotsClefs = 103; // slots 0 to 102; keys in 1 to 100

    QStringList tab_clefs = QStringList(kSlotsClefs);
    qint16 etape_sequenceur = 0;
    QString rep_archives; // "arch_messages/", under rep_appli
    QString rep_appli;    // the program's folder, with its final separator
    QString fichier_ini;  // rep_appli + "pop3.ini"
    QString rep_actions;  // where the command batch files are
    qint16 compteur_reponses = 0;
    qint16 duree_cycle = 300;
    QString fichier_clefs; // rep_appli + "clefs.dat"
    // The key file as the key store last read or wrote it: a file that no
    // longer matches it was replaced by the operator.
    fichier_clefs::Version version_clefs;
    // The mail taken in this cycle is to be answered (lights the lamp at the
    // send step); the mail itself travels as a MessageEnCours.
    bool reponse_a_envoyer = false;
    QString nom_serveur_pop;
    // [mail] serveur_imap: the doorbell's server; empty, no doorbell.
    QString nom_serveur_imap;
    QString login_pop;
    QString pass_pop;
    QString adresse_reponse;
    QString nom_serveur_smtp;
    QString fichier_journal;
    QString mois_courant; // "yyyy-mm"
    QString mois_journal;
    // Whether replies are sent with SMTP authentication (the "authentification"
    // setting, shown as a check box in the mail settings).
    bool auth_smtp = false;
    // Mails larger than this (MB) are not fetched: they are reported and left
    // in the mailbox ("taille_max_mo" in pop3.ini).
    int taille_max_mail_mo = 50;
    // Who may command the server and be answered (section "expediteurs").
    ReglesExpediteurs expediteurs;
    // The settings of pop3.ini that were read otherwise than written ("relance=0
    // lu comme 60"), one French line each, said once at start-up.
    QStringList reglages_corriges;
};
