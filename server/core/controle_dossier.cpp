#include "server/core/controle_dossier.h"

#include "platform/droits_fichier.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace controle_dossier {

namespace {

QString cause(int erreur)
{
    switch (erreur) {
    case EACCES:
    case EPERM:
        return QStringLiteral("permission refusée");
    case EROFS:
        return QStringLiteral("système de fichiers en lecture seule");
    case ENOSPC:
        return QStringLiteral("disque plein");
    case ENOENT:
        return QStringLiteral("introuvable");
    default:
        return QString::fromLocal8Bit(std::strerror(erreur));
    }
}

QString remede(int erreur, const QString &chemin)
{
    if (erreur == EROFS)
        return QStringLiteral("remontez-le en écriture ou choisissez un dossier ailleurs");
    if (erreur == ENOSPC)
        return QStringLiteral("libérez de la place sur ce disque");
    return QStringLiteral("donnez-le à l'utilisateur %1 (chown -R %1 %2) ou lancez le serveur "
                          "sous le compte qui le possède")
        .arg(platform::utilisateur_courant(), chemin);
}

// A file made and removed at once: what the server will do at every mail.
int essai_dossier(const QString &dossier)
{
    const QByteArray modele = QFile::encodeName(dossier + QStringLiteral(".essai-XXXXXX"));
    QByteArray nom = modele;
    const int fd = ::mkostemp(nom.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    ::close(fd);
    ::unlink(nom.constData());
    return 0;
}

// Opened for appending, nothing written: neither the content nor the date changes.
int essai_fichier(const QString &fichier)
{
    const int fd = ::open(QFile::encodeName(fichier).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

QString faute(const QString &quoi, const QString &chemin, int erreur)
{
    const QString droits = platform::proprietaire_et_droits(chemin);
    return QStringLiteral(
               "%1 %2 n'est pas accessible en écriture pour l'utilisateur %3 (%4%5) : %6")
        .arg(quoi, chemin, platform::utilisateur_courant(),
             droits.isEmpty() ? QString() : droits + QStringLiteral(", "), cause(erreur),
             remede(erreur, chemin));
}

} // namespace

QString texte_clefs_non_chargees(const ServerState &state)
{
    // The words the operator has always seen for a folder without keys.
    if (!platform::existe(state.fichier_clefs))
        return QStringLiteral("pas de fichier clef");
    const QString droits = platform::proprietaire_et_droits(state.fichier_clefs);
    return QStringLiteral("clefs.dat illisible (%1) : %2 ; le serveur tourne sous l'utilisateur "
                          "%3 : donnez-lui le fichier (chown %3 %2)")
        .arg(droits.isEmpty() ? QStringLiteral("droits inconnus") : droits, state.fichier_clefs,
             platform::utilisateur_courant());
}

QStringList controle_ecriture(const ServerState &state)
{
    QStringList fautes;
    if (const int erreur = essai_dossier(state.rep_appli))
        fautes.append(faute(QStringLiteral("le dossier du serveur"), state.rep_appli, erreur));
    if (QFileInfo(state.rep_archives).isDir()) {
        if (const int erreur = essai_dossier(state.rep_archives))
            fautes.append(
                faute(QStringLiteral("le dossier des archives"), state.rep_archives, erreur));
    }
    if (!state.fichier_journal.isEmpty() && platform::existe(state.fichier_journal)) {
        if (const int erreur = essai_fichier(state.fichier_journal))
            fautes.append(faute(QStringLiteral("le journal"), state.fichier_journal, erreur));
    }
    return fautes;
}

int nombre_fichiers_bat(const QString &rep_actions)
{
    const QDir dossier(rep_actions);
    if (!dossier.exists() || !dossier.isReadable())
        return -1;
    // As the launch accepts them: the letter case of ".bat" does not matter.
    return int(dossier
                   .entryList({QStringLiteral("*.bat")},
                              QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                              QDir::Name | QDir::IgnoreCase)
                   .size());
}

} // namespace controle_dossier
