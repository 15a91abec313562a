#include "server/core/verrou_dossier.h"

#include "platform/droits_fichier.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

VerrouDossier::~VerrouDossier()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

VerrouDossier::Issue VerrouDossier::prendre(const QString &rep_appli, QString *erreur)
{
    const QString chemin = rep_appli + QStringView(kNomFichier).toString();
    const QByteArray nom = QFile::encodeName(chemin);
    const int fd = ::open(nom.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        const int cause = errno;
        // Left by a server started under another account (sudo), or a folder
        // this user may not write in: the rights of whichever is in the way.
        const QString gene = platform::existe(chemin) ? chemin : rep_appli;
        if (erreur)
            *erreur =
                QStringLiteral("le verrou %1 n'a pas pu être ouvert (%2) : %3 doit être "
                               "accessible en écriture pour l'utilisateur %4 (%5)")
                    .arg(chemin, QString::fromLocal8Bit(std::strerror(cause)), gene,
                         platform::utilisateur_courant(), platform::proprietaire_et_droits(gene));
        return Issue::Impossible;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        QByteArray pid(32, '\0');
        const ssize_t lu = ::pread(fd, pid.data(), pid.size() - 1, 0);
        pid.truncate(lu > 0 ? int(lu) : 0);
        ::close(fd);
        if (erreur)
            *erreur =
                QStringLiteral("un autre serveur Tramelon utilise déjà le dossier %1 "
                               "(processus %2) : arrêtez-le avant d'en lancer un autre")
                    .arg(rep_appli, pid.trimmed().isEmpty() ? QStringLiteral("inconnu")
                                                            : QString::fromLatin1(pid.trimmed()));
        return Issue::Occupe;
    }
    // The file is ours now: what it held was the id of a process that ended.
    const QByteArray texte = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, texte.constData(), size_t(texte.size()), 0) < 0) {
        // The lock holds all the same; only the id shown to a second server is missing.
    }
    m_fd = fd;
    return Issue::Pris;
}
