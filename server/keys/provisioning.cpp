#include "server/keys/provisioning.h"

#include "common/blancs.h"
#include "common/command_list_file.h"
#include "platform/app_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace provisioning {

QString executable_defaut()
{
#ifdef Q_OS_WIN
    return QStringLiteral("kestrine.exe");
#else
    return QStringLiteral("kestrine");
#endif
}

QString chemin_cible(const QString &chemin_choisi, const QString &nom)
{
    const QString sous_repertoire = enleve_blancs(nom);
    if (sous_repertoire.isEmpty())
        return chemin_choisi;
    return platform::avec_separateur(chemin_choisi + sous_repertoire);
}

bool copier_remplacer(const QString &source, const QString &destination)
{
    const QFileInfo from(source);
    if (!from.isFile())
        return false;
    // The server's own folder chosen as target: the file is already in place,
    // and rewriting it from itself could only lose it.
    const QFileInfo to(destination);
    if (to.exists() && from.canonicalFilePath() == to.canonicalFilePath())
        return true;

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    // Written beside the target and renamed over it: a failed copy leaves the
    // previous one whole.
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
            out.cancelWriting();
            break;
        }
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            break;
        }
    }
    if (!out.commit())
        return false;
    return QFile::setPermissions(destination, from.permissions());
}

Issue preparer(const Demande &demande)
{
    if (demande.creer_cible && !QDir().mkpath(demande.cible))
        return Issue::Echec;

    for (const QString &nom : {QStringLiteral("clefs.dat"), demande.executable}) {
        if (!copier_remplacer(demande.rep_appli + nom, demande.cible + nom))
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
