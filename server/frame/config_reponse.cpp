#include "server/frame/config_reponse.h"

#include "common/blancs.h"
#include "platform/private_profile.h"
#include "server/frame/config.h"

#include <QStringList>

namespace {
const QString kSection = QStringLiteral("reponse");

QString lire(const QString &key, const QString &file)
{
    return config::texte_avant_nul(
        platform::GetPrivateProfileString(kSection, key, QString(), config::kTailleLecture, file));
}
} // namespace

namespace config {

ReglagesResultat charge_config_reponse(const QString &fichier_ini)
{
    ReglagesResultat reglages;
    static const QStringList oui{QStringLiteral("oui"), QStringLiteral("on"), QStringLiteral("1")};
    reglages.resultat =
        oui.contains(enleve_blancs(lire(QStringLiteral("resultat"), fichier_ini)).toLower());
    reglages.duree_max =
        lire_nombre(lire(QStringLiteral("duree_max"), fichier_ini), Plage{0, kDureeMaxLimite});
    return reglages;
}

} // namespace config
