#include "common/key_file.h"

#include "common/ansi_text.h"

namespace fichier_clefs {

std::optional<QStringList> lire(const QString &path, int maxLines)
{
    return ansi::readLines(path, maxLines);
}

std::optional<int> charger(const QString &path, QStringList &slots, int slotCount)
{
    const auto lines = lire(path, slotCount - 1);
    if (!lines)
        return std::nullopt;
    QStringList table(slotCount);
    for (int n = 0; n < lines->size(); ++n)
        table[n + 1] = lines->at(n);
    slots = table;
    return int(lines->size());
}

bool ecrire(const QString &path, const QStringList &slots)
{
    QStringList keys;
    for (int i = kPremierSlot; i <= kDernierSlotEcrit && i < slots.size(); ++i) {
        if (!slots.at(i).isEmpty())
            keys.append(slots.at(i));
    }
    return ansi::writeLines(path, keys);
}

} // namespace fichier_clefs
