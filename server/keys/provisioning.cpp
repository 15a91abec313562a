#include "server/keys/provisioning.h"

#include "common/blancs.h"
#include "common/command_list_file.h"
#include "common/durable_file.h"
#include "platform/app_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The installed preparation tool first: the server folder may belong to the
// account the service runs under, and what that account put there must not
// become the program the client runs. A server folder without an installed
// tool beside tramelon (a build run from its own folder) gives its own.
QString source(const Demande &demande, const QString &nom)
{
    const QString dans_dossier = demande.rep_appli + nom;
    if (nom != demande.executable)
        return dans_dossier;
    const QString installe =
        platform::avec_separateur(QCoreApplication::applicationDirPath()) + nom;
    return QFileInfo::exists(installe) ? installe : dans_dossier;
}

struct Contenu {
    QByteArray octets;
    QFileDevice::Permissions permissions;
};

// The file itself, never what a symbolic link names, and only a regular file:
// a link planted in the server folder would have the operator copy any file
// they can read into the client folder, and a pipe would hang the copy. The
// check and the read are on one descriptor, so nothing can be swapped between.
std::optional<Contenu> lire_fichier_ordinaire(const QString &chemin)
{
    const QByteArray nom = QFile::encodeName(chemin);
    const int fd = ::open(nom.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat etat = {};
    QFile fichier;
    if (::fstat(fd, &etat) != 0 || !S_ISREG(etat.st_mode) ||
        !fichier.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    Contenu contenu{fichier.readAll(), {}};
    if (contenu.octets.size() != etat.st_size)
        return std::nullopt; // a short read must not become a short copy
    // Only the owner's bits carry over, repeated for everyone for a program: a
    // tool that its owner could write stays writable by its new owner alone.
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (etat.st_mode & S_IXUSR)
        permissions |= QFileDevice::ExeOwner | QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                       QFileDevice::ReadOther | QFileDevice::ExeOther;
    contenu.permissions = permissions;
    return contenu;
}

bool copier(const QString &source, const QString &destination)
{
    const std::optional<Contenu> contenu = lire_fichier_ordinaire(source);
    return contenu &&
           durable::remplacer(destination, contenu->octets, nullptr, contenu->permissions);
}

} // namespace

Issue preparer(const Demande &demande)
{
    if (demande.creer_cible && !QDir().mkpath(demande.cible))
        return Issue::Echec;

    for (const QString &nom : {QStringLiteral("clefs.dat"), demande.executable}) {
        if (!copier(source(demande, nom), demande.cible + nom))
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
