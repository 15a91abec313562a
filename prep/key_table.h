#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace kestrine {

// The tool's key table: slot n holds line n of clefs.dat, slot 0 never holds a
// key and an empty slot holds none. The key list shows the slots 1 to
// nb_clefs - 1 except those holding exactly one blank; the table keeps which
// slot each list position shows, so a strike always hits the listed key.
class TableClefs
{
public:
    static constexpr int kNbSlots = 201;   // slots 0 to 200
    static constexpr int kMaxLignes = 200; // lines beyond are ignored

    TableClefs();

    // Loads the key file; the number of lines read, or nothing when it cannot be
    // opened (the table is then left as it was).
    std::optional<int> charger(const QString &path);
    // Writes the non-empty slots 1 to 100 back, replacing the file atomically;
    // on failure the old file is whole and error (when given) says why.
    bool ecrire(const QString &path, QString *error = nullptr) const;

    // The entries of the key list, in position order; rebuilds the position map.
    QStringList entrees();
    // Slot shown at a list position, -1 for none.
    int slot_de_position(int position) const;
    // Empties the slot shown at a list position; nothing for a position out of range.
    void effacer_position(int position);
    // True when at least one listed entry holds a key.
    bool a_des_clefs() const;

    const QStringList &tab_clefs() const { return m_slots; }
    int nb_clefs() const { return m_nbClefs; }

private:
    QStringList m_slots;
    int m_nbClefs = 0;
    QVector<int> m_slotsAffiches;
};

} // namespace kestrine
