#include "server/keys/actions_directory.h"

#include "common/blancs.h"
#include "platform/app_folder.h"
#include "platform/private_profile.h"

#include <QDir>
#include <QFileInfo>

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

bool commande_autorisee(const QString &commande, const QString &rep_actions)
{
    if (commande.isEmpty() || commande.contains(u'/') || commande.contains(u'\\') ||
        commande.contains(u':') || commande.contains(QStringLiteral("..")))
        return false;
    if (!commande.endsWith(QStringLiteral(".bat"), Qt::CaseInsensitive))
        return false;
    const QFileInfo file(QDir(rep_actions).filePath(commande));
    return file.isFile() && file.fileName() == commande;
}

} // namespace repertoire_actions
