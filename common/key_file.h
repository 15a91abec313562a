#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// clefs.dat: one key per line, slot n of a key table holding line n. A used key
// is not marked: it is left out when the file is written again.
namespace fichier_clefs {

inline constexpr int kPremierSlot = 1;
inline constexpr int kDernierSlotEcrit = 100; // only slots 1 to 100 go back to the file

// One version of the key file on disk. An operator who replaces the file
// (a copy, a rename, an editor) changes its inode, size or time; the bytes are
// kept too, because a rewrite in place of the same size within one tick of
// the file system's clock changes none of the three.
struct Version {
    bool existe = false;
    bool lisible = false;
    qint64 taille = -1;
    qint64 modifie_ns = 0;
    quint64 inode = 0;
    quint64 peripherique = 0;
    QByteArray contenu;

    bool operator==(const Version &) const = default;
};

// The version on disk now.
Version version(const QString &path);

// The lines of the key file, at most maxLines of them; nothing when it cannot be opened.
std::optional<QStringList> lire(const QString &path, int maxLines);

// Loads the file into a key table of slotCount slots (slot 0 never holds a key).
// Returns the number of lines read, or nothing when the file cannot be opened;
// on failure the table is left as it was. lue (when given) gets the version read.
std::optional<int> charger(const QString &path, QStringList &slots, int slotCount,
                           Version *lue = nullptr);

// Writes the non-empty slots 1 to 100 in ascending order, atomically. On
// failure error (when given) says why, in French; on success ecrite (when
// given) gets the version now on disk.
[[nodiscard]] bool ecrire(const QString &path, const QStringList &slots, QString *error = nullptr,
                          Version *ecrite = nullptr);

} // namespace fichier_clefs
