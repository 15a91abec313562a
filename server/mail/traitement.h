#pragma once

#include "server/frame/horloge.h"
#include "server/frame/server_state.h"

#include <QObject>
#include <QString>

#include <functional>

class Affichage;
class Pop3Session;

// The processing of one mail per cycle: fetch the first listed message, archive
// it, show it, judge it, strike its code, launch its batch file, choose and
// journal the answer, then delete it from the mailbox.
class Traitement : public QObject
{
    Q_OBJECT

public:
    // Stands for the shell's "open": above 32 is success.
    using Lanceur = std::function<qint32(const QString &file, const QString &directory)>;

    Traitement(ServerState &state, Affichage &affichage, Pop3Session &session, Lanceur lanceur,
               Horloge horloge, QObject *parent = nullptr);

    void traite_message();

    // The archive file name for a moment: "message__yyyymmdd_hhmmss.eml".
    static QString nom_archive(const QDateTime &moment);
    // Only a batch file lying directly in the actions directory may run: a bare
    // name ending in ".bat", no drive, no separator, no "..", naming a file there.
    static bool commande_autorisee(const QString &commande, const QString &rep_actions);

    static QString texte_acceptation(const QString &commande);
    static QString texte_refus(const QString &commande);
    static QString texte_echec(const QString &commande, qint32 resultat);

private:
    void ligne_log();

    ServerState &m_state;
    Affichage &m_affichage;
    Pop3Session &m_session;
    Lanceur m_lanceur;
    Horloge m_horloge;
};
