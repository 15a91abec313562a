#include "prep/key_table.h"

#include "common/key_file.h"

namespace kestrine {

namespace {
// A file written by either program never holds such a line, but it is not listed.
const QString kBlanc = QStringLiteral(" ");
} // namespace

TableClefs::TableClefs() : m_slots(kNbSlots) {}

std::optional<int> TableClefs::charger(const QString &path)
{
    const auto lus = fichier_clefs::charger(path, m_slots, kNbSlots);
    if (lus)
        m_nbClefs = *lus + 1;
    return lus;
}

bool TableClefs::ecrire(const QString &path, QString *error) const
{
    return fichier_clefs::ecrire(path, m_slots, error);
}

QStringList TableClefs::entrees()
{
    QStringList entries;
    m_slotsAffiches.clear();
    for (int slot = 1; slot < m_nbClefs && slot < kNbSlots; ++slot) {
        if (m_slots.at(slot) == kBlanc)
            continue;
        entries.append(m_slots.at(slot));
        m_slotsAffiches.append(slot);
    }
    return entries;
}

int TableClefs::slot_de_position(int position) const
{
    if (position < 0 || position >= m_slotsAffiches.size())
        return -1;
    return m_slotsAffiches.at(position);
}

void TableClefs::effacer_position(int position)
{
    const int slot = slot_de_position(position);
    if (slot > 0)
        m_slots[slot].clear();
}

bool TableClefs::a_des_clefs() const
{
    for (int slot : m_slotsAffiches) {
        if (!m_slots.at(slot).isEmpty())
            return true;
    }
    return false;
}

} // namespace kestrine
