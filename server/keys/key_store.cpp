#include "server/keys/key_store.h"

#include "common/ansi_text.h"
#include "common/key_file.h"

#include <QRandomGenerator>

namespace key_store {

bool charger_clefs(ServerState &state)
{
    state.fichier_clefs = state.rep_appli + QStringLiteral("clefs.dat");
    return fichier_clefs::charger(state.fichier_clefs, state.tab_clefs, ServerState::kSlotsClefs)
        .has_value();
}

Verification verif_clef(ServerState &state, const QString &code)
{
    if (code.isEmpty())
        return Verification::Refusee;
    for (int i = fichier_clefs::kPremierSlot; i <= fichier_clefs::kDernierSlotEcrit; ++i) {
        if (state.tab_clefs.at(i) == code) {
            state.tab_clefs[i].clear();
            return ecrire_clefs(state) ? Verification::Acceptee : Verification::NonEnregistree;
        }
    }
    return Verification::Refusee;
}

bool ecrire_clefs(ServerState &state)
{
    state.fichier_clefs = state.rep_appli + QStringLiteral("clefs.dat");
    return fichier_clefs::ecrire(state.fichier_clefs, state.tab_clefs);
}

QStringList generer_clefs()
{
    const QStringView alphabet(kAlphabet);
    // bounded() draws without bias, so each of the 35 characters is equally likely.
    QRandomGenerator *random = QRandomGenerator::system();
    QStringList keys;
    for (int k = 0; k < kNombreClefs; ++k) {
        QString key;
        for (int c = 0; c < kLongueurClef; ++c)
            key.append(alphabet.at(random->bounded(int(alphabet.size()))));
        keys.append(key);
    }
    return keys;
}

bool cre_clefs(ServerState &state)
{
    const QStringList keys = generer_clefs();
    if (!ansi::writeLines(state.rep_appli + QStringLiteral("clefs.dat"), keys))
        return false;
    for (int i = 0; i < kNombreClefs; ++i)
        state.tab_clefs[i + 1] = keys.at(i);
    return true;
}

} // namespace key_store
