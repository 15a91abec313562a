#include "server/keys/key_store.h"

#include "common/key_file.h"

#include <QRandomGenerator>

namespace key_store {

namespace {

QString chemin(ServerState &state)
{
    state.fichier_clefs = state.rep_appli + QStringLiteral("clefs.dat");
    return state.fichier_clefs;
}

enum class Disque {
    Inchange, // as the store last read or wrote it, or gone (written anew)
    Relu,     // replaced, and now loaded into tab_clefs
    Illisible // replaced by a file that cannot be read: it must not be written over
};

// Compares the key file with the version the store knows and reloads it when
// it was replaced.
Disque suivre_disque(ServerState &state)
{
    const fichier_clefs::Version disque = fichier_clefs::version(chemin(state));
    // A file gone is written anew from memory, as at shut-down.
    if (!disque.existe || disque == state.version_clefs)
        return Disque::Inchange;
    if (!disque.lisible || !fichier_clefs::charger(state.fichier_clefs, state.tab_clefs,
                                                   ServerState::kSlotsClefs, &state.version_clefs))
        return Disque::Illisible;
    return Disque::Relu;
}

} // namespace

bool charger_clefs(ServerState &state)
{
    return fichier_clefs::charger(chemin(state), state.tab_clefs, ServerState::kSlotsClefs,
                                  &state.version_clefs)
        .has_value();
}

int clefs_restantes(const ServerState &state)
{
    int restantes = 0;
    for (int i = fichier_clefs::kPremierSlot;
         i <= fichier_clefs::kDernierSlotEcrit && i < state.tab_clefs.size(); ++i)
        restantes += state.tab_clefs.at(i).isEmpty() ? 0 : 1;
    return restantes;
}

QString alerte_clefs(int restantes)
{
    if (restantes > kSeuilClefs)
        return {};
    // A client folder keeps offering keys of the old file: it must get the new one too.
    const QString renouveler =
        QStringLiteral("créez un nouveau fichier clefs (bouton \"Création d'un fichier clefs\" ou "
                       "tramelon-dossier) et copiez-le dans les dossiers clients");
    if (restantes == 0)
        return QStringLiteral("plus aucune clef inutilisée : toute commande sera refusée ; ") +
               renouveler;
    return QStringLiteral("plus que %1 clef(s) inutilisée(s) : ").arg(restantes) + renouveler;
}

Verification verif_clef(ServerState &state, const QString &code, bool *relu)
{
    if (relu)
        *relu = false;
    if (code.isEmpty())
        return Verification::Refusee;
    const Disque disque = suivre_disque(state);
    if (relu)
        *relu = disque == Disque::Relu;
    for (int i = fichier_clefs::kPremierSlot; i <= fichier_clefs::kDernierSlotEcrit; ++i) {
        if (state.tab_clefs.at(i) == code) {
            state.tab_clefs[i].clear();
            if (disque == Disque::Illisible)
                return Verification::NonEnregistree;
            return fichier_clefs::ecrire(state.fichier_clefs, state.tab_clefs, nullptr,
                                         &state.version_clefs)
                       ? Verification::Acceptee
                       : Verification::NonEnregistree;
        }
    }
    return Verification::Refusee;
}

bool ecrire_clefs(ServerState &state, bool *relu)
{
    const Disque disque = suivre_disque(state);
    if (relu)
        *relu = disque == Disque::Relu;
    // Every use was written when it happened: the operator's new file holds all
    // there is to keep.
    if (disque == Disque::Relu)
        return true;
    if (disque == Disque::Illisible)
        return false;
    return fichier_clefs::ecrire(state.fichier_clefs, state.tab_clefs, nullptr,
                                 &state.version_clefs);
}

QString texte_relu(Verification verification)
{
    const QString debut = QStringLiteral("Fichier clefs modifié sur le disque : relu");
    switch (verification) {
    case Verification::Acceptee:
        return debut + QStringLiteral(" avant d'y rayer la clef utilisée");
    case Verification::NonEnregistree:
        return debut + QStringLiteral(", mais la clef utilisée n'a pas pu y être rayée");
    case Verification::Refusee:
        break;
    }
    return debut + QStringLiteral(", le code reçu n'y figure pas");
}

QString texte_relu_arret()
{
    return QStringLiteral(
        "Fichier clefs modifié sur le disque : relu et laissé tel quel à l'arrêt");
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
    QStringList slots = state.tab_clefs;
    for (int i = 0; i < kNombreClefs; ++i)
        slots[i + 1] = keys.at(i);
    fichier_clefs::Version ecrite;
    if (!fichier_clefs::ecrire(chemin(state), slots, nullptr, &ecrite))
        return false;
    state.tab_clefs = slots;
    state.version_clefs = ecrite;
    return true;
}

} // namespace key_store
