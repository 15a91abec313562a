#pragma once

#include "server/frame/config.h"
#include "server/frame/server_state.h"

#include <QString>

// The operator's choice of the actions directory: it applies at once and is
// kept in pop3.ini for the next start.
namespace repertoire_actions {

// pop3.ini gives back at most this many characters of the directory; a longer
// one would come back cut at the next start.
inline constexpr int kLongueurMax = config::kTailleLectureChemin - 1;

enum class Issue {
    Fait,
    AucunChoix, // no directory reported yet
    TropLong,
};

// Takes the chosen directory (blanks around it removed, final separator added),
// sets rep_actions and writes PATH / repertoire_commande into fichier_ini. A
// failed write goes unreported: the directory still applies until the server
// stops. Nothing changes unless the outcome is Fait.
Issue choisir(ServerState &state, const QString &chemin);

// Only a batch file lying directly in the actions directory may run: a bare
// name ending in ".bat", no drive, no separator, no "..", naming a file there.
bool commande_autorisee(const QString &commande, const QString &rep_actions);

} // namespace repertoire_actions
