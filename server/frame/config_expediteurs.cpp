#include "server/frame/config_expediteurs.h"

#include "common/blancs.h"
#include "platform/private_profile.h"
#include "server/frame/config.h"

namespace {
const QString kSection = QStringLiteral("expediteurs");
const QString kDmarc = QStringLiteral("dmarc");

QString lire(const QString &key, const QString &defaut, int size, const QString &file)
{
    return config::texte_avant_nul(
        platform::GetPrivateProfileString(kSection, key, defaut, size, file));
}
} // namespace

bool ReglesExpediteurs::dmarc_exige() const
{
    // A value mistyped in pop3.ini must not quietly let every sender through.
    const QString valeur = enleve_blancs(authentification);
    return !valeur.isEmpty() && valeur.compare(QStringLiteral("non"), Qt::CaseInsensitive) != 0;
}

bool ReglesExpediteurs::active() const
{
    return !enleve_blancs(autorises).isEmpty() || dmarc_exige();
}

namespace config {

ReglesExpediteurs charge_config_expediteurs(const QString &fichier_ini)
{
    ReglesExpediteurs r;
    r.autorises = lire(QStringLiteral("autorises"), {}, kTailleLectureListe, fichier_ini);
    r.authentification = lire(QStringLiteral("authentification"), QStringLiteral("non"),
                              kTailleLecture, fichier_ini);
    r.serveur_authentification =
        lire(QStringLiteral("serveur_authentification"), {}, kTailleLecture, fichier_ini);
    return r;
}

bool sauve_config_expediteurs(const ReglesExpediteurs &regles, const QString &fichier_ini)
{
    bool ecrit = true;
    ecrit &= platform::WritePrivateProfileString(kSection, QStringLiteral("autorises"),
                                                 regles.autorises, fichier_ini);
    ecrit &= platform::WritePrivateProfileString(
        kSection, QStringLiteral("authentification"),
        regles.dmarc_exige() ? kDmarc : QStringLiteral("non"), fichier_ini);
    ecrit &=
        platform::WritePrivateProfileString(kSection, QStringLiteral("serveur_authentification"),
                                            regles.serveur_authentification, fichier_ini);
    return ecrit;
}

} // namespace config
