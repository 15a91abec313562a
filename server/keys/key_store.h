#pragma once

#include "server/frame/server_state.h"

#include <QString>
#include <QStringList>

// The server's key store: the one-time codes of clefs.dat, held in the slots of
// tab_clefs. A code is accepted once; the key file on disk follows every change
// at once, so a crash never brings a used code back.
//
// The file on disk is the operator's: one who replaces it while the server
// runs (to revoke leaked keys, or to hand out new ones) is obeyed. Before the
// store writes, it compares the file with the version it last read or wrote;
// when they differ it reloads the file, so that keys missing from the new file
// are gone, keys in it are valid (even one used earlier in this run), and only
// the key being used now is struck there. The store has no journal: it tells
// its caller, who journals it.
namespace key_store {

inline constexpr int kNombreClefs = 100;
inline constexpr int kLongueurClef = 12;
// "A" to "Z" and "1" to "9": no "0", no lower case.
inline constexpr char16_t kAlphabet[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ123456789";

// Loads clefs.dat into tab_clefs; false when the file cannot be opened.
bool charger_clefs(ServerState &state);

// Unused keys in slots 1 to 100.
int clefs_restantes(const ServerState &state);
// From this many unused keys down, each use tells the operator to renew them.
inline constexpr int kSeuilClefs = 10;
// What each use says once the keys run low; empty above the threshold.
QString alerte_clefs(int restantes);

enum class Verification {
    Acceptee,      // the code was a key; it is struck in memory and on disk
    Refusee,       // empty, unknown or already used
    NonEnregistree // it was a key and is struck in memory, but the file could not be rewritten
};

// Strikes the code from slots 1 to 100 (exact, case-sensitive) and rewrites the
// key file before answering. When the file had been replaced on disk, the code
// is looked for in the new file and relu (when given) is set.
Verification verif_clef(ServerState &state, const QString &code, bool *relu = nullptr);

// Writes slots 1 to 100, non-empty ones only, back to clefs.dat. A file
// replaced on disk is reloaded instead and left as the operator wrote it;
// relu (when given) says so.
[[nodiscard]] bool ecrire_clefs(ServerState &state, bool *relu = nullptr);

// The journal's line for a key file found replaced: by verif_clef with its
// answer, by ecrire_clefs at shut-down.
QString texte_relu(Verification verification);
QString texte_relu_arret();

// 100 fresh keys drawn from the system's cryptographic random source.
QStringList generer_clefs();

// Writes a new key file and, once it is on disk, puts its keys in slots 1 to 100.
// False (and the store unchanged) when the file could not be written.
bool cre_clefs(ServerState &state);

} // namespace key_store
