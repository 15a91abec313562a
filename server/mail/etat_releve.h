#pragma once

#include "server/mail/espacement_releve.h"

#include <QDateTime>
#include <QString>

// What the server says of itself to whoever looks from outside its window:
// the service manager's status line and `tramelon --etat`.
struct EtatReleve {
    QDateTime maintenant;      // when the state was taken
    QDateTime derniere_releve; // the last login that worked; invalid before the first
    int clefs = 0;             // unused keys
    int reponses_en_attente = 0;
    EspacementReleve::Cause cause = EspacementReleve::Cause::Aucune;
    QDateTime dernier_echec;
    QDateTime prochain_essai;
    QString arret; // why the polling is stopped (no reply address yet), else empty

    // "dernière relève 14:02, 97 clefs, 0 réponse en attente", or
    // "relève suspendue : mot de passe refusé à 13:40, nouvel essai à 14:12".
    QString texte() const;
};

// "mot de passe refusé", "serveur POP3 injoignable": why the polling is spaced out.
QString texte_cause(EspacementReleve::Cause cause);
// "14:12", with the date in front when it is not today's.
QString texte_heure(const QDateTime &moment, const QDateTime &maintenant);
