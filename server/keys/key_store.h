#pragma once

#include "server/frame/server_state.h"

#include <QString>
#include <QStringList>

// The server's key store: the one-time codes of clefs.dat, held in the slots of
// tab_clefs. A code is accepted once; the key file on disk follows every change
// at once, so a crash never brings a used code back.
namespace key_store {

inline constexpr int kNombreClefs = 100;
inline constexpr int kLongueurClef = 12;
// "A" to "Z" and "1" to "9": no "0", no lower case.
inline constexpr char16_t kAlphabet[] = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ123456789";

// Loads clefs.dat into tab_clefs; false when the file cannot be opened.
bool charger_clefs(ServerState &state);

enum class Verification {
    Acceptee,      // the code was a key; it is struck in memory and on disk
    Refusee,       // empty, unknown or already used
    NonEnregistree // it was a key and is struck in memory, but the file could not be rewritten
};

// Strikes the code from slots 1 to 100 (exact, case-sensitive) and rewrites the
// key file before answering.
Verification verif_clef(ServerState &state, const QString &code);

// Writes slots 1 to 100, non-empty ones only, back to clefs.dat.
bool ecrire_clefs(ServerState &state);

// 100 fresh keys drawn from the system's cryptographic random source.
QStringList generer_clefs();

// Writes a new key file and, once it is on disk, puts its keys in slots 1 to 100.
// False (and the store unchanged) when the file could not be written.
bool cre_clefs(ServerState &state);

} // namespace key_store
