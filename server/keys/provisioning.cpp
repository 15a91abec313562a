#include "server/keys/provisioning.h"

#include "common/blancs.h"
#include "common/command_list_file.h"
#include "platform/app_folder.h"
#include "platform/file_copy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace provisioning {

QString executable_defaut()
{
#ifdef Q_OS_WIN
    return QStringLiteral("kestrine.exe");
#else
    return QStringLiteral("kestrine");
#endif
}

namespace {

bool est_separateur(QChar c) { return c == u'/' || c == u'\\'; }

} // namespace

std::optional<QString> chemin_cible(const QString &chemin_choisi, const QString &nom)
{
    QString sous_repertoire = enleve_blancs(nom);
    if (sous_repertoire.isEmpty())
        return chemin_choisi;
    // "\" is an ordinary character of a Linux file name: kept, it would make a
    // folder "Nouveau\" beside files "Nouveau\clefs.dat" instead of one folder.
    if (est_separateur(sous_repertoire.back()))
        sous_repertoire = enleve_blancs(sous_repertoire.chopped(1));
    if (sous_repertoire.isEmpty() || sous_repertoire == u"." || sous_repertoire == u".." ||
        std::any_of(sous_repertoire.cbegin(), sous_repertoire.cend(), est_separateur))
        return std::nullopt;
    return chemin_choisi + sous_repertoire + u'/';
}

QString cible_refusee(const QString &chemin_choisi, const QString &nom)
{
    return chemin_choisi + enleve_blancs(nom);
}

namespace {

// A server folder made for an installed Tramelon (--folder) holds no
// preparation tool of its own: the one installed beside tramelon serves, so
// that the client folder still works where the package is not installed.
QString source(const Demande &demande, const QString &nom)
{
    const QString dans_dossier = demande.rep_appli + nom;
    if (nom != demande.executable || QFileInfo::exists(dans_dossier))
        return dans_dossier;
    return platform::avec_separateur(QCoreApplication::applicationDirPath()) + nom;
}

} // namespace

Issue preparer(const Demande &demande)
{
    if (demande.creer_cible && !QDir().mkpath(demande.cible))
        return Issue::Echec;

    for (const QString &nom : {QStringLiteral("clefs.dat"), demande.executable}) {
        if (!platform::copier_remplacer(source(demande, nom), demande.cible + nom))
            return Issue::Echec;
    }

    const std::optional<QStringList> noms = fichier_commandes::lister_batch(demande.rep_actions);
    if (!noms)
        return Issue::Echec;
    if (noms->isEmpty())
        return Issue::AucunFichierCommande;
    if (!fichier_commandes::ecrire(demande.cible + QStringLiteral("filebat.dat"), *noms))
        return Issue::Echec;
    return Issue::Fait;
}

} // namespace provisioning
