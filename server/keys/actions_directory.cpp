#include "server/keys/actions_directory.h"

#include "common/blancs.h"
#include "platform/app_folder.h"
#include "platform/private_profile.h"

namespace repertoire_actions {

Issue choisir(ServerState &state, const QString &chemin)
{
    const QString nettoye = enleve_blancs(chemin);
    if (nettoye.isEmpty())
        return Issue::AucunChoix;
    const QString repertoire = platform::avec_separateur(nettoye);
    if (repertoire.size() > kLongueurMax)
        return Issue::TropLong;
    state.rep_actions = repertoire;
    platform::WritePrivateProfileString(QStringLiteral("PATH"),
                                        QStringLiteral("repertoire_commande"), state.rep_actions,
                                        state.fichier_ini);
    return Issue::Fait;
}

} // namespace repertoire_actions
