#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// clefs.dat: one key per line, slot n of a key table holding line n. A used key
// is not marked: it is left out when the file is written again.
namespace fichier_clefs {

inline constexpr int kPremierSlot = 1;
inline constexpr int kDernierSlotEcrit = 100; // only slots 1 to 100 go back to the file

// The lines of the key file, at most maxLines of them; nothing when it cannot be opened.
std::optional<QStringList> lire(const QString &path, int maxLines);

// Loads the file into a key table of slotCount slots (slot 0 never holds a key).
// Returns the number of lines read, or nothing when the file cannot be opened;
// on failure the table is left as it was.
std::optional<int> charger(const QString &path, QStringList &slots, int slotCount);

// Writes the non-empty slots 1 to 100 in ascending order, atomically.
[[nodiscard]] bool ecrire(const QString &path, const QStringList &slots);

} // namespace fichier_clefs
