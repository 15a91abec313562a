#include "platform/droits_fichier.h"

#include <QFile>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString nom_utilisateur(uid_t uid)
{
    if (const passwd *entree = ::getpwuid(uid))
        return QString::fromLocal8Bit(entree->pw_name);
    return QStringLiteral("uid ") + QString::number(uid);
}

} // namespace

QString proprietaire_et_droits(const QString &path)
{
    struct stat etat {
    };
    if (::stat(QFile::encodeName(path).constData(), &etat) != 0)
        return {};
    return QStringLiteral("propriétaire %1, droits %2")
        .arg(nom_utilisateur(etat.st_uid))
        .arg(etat.st_mode & 07777, 4, 8, QLatin1Char('0'));
}

QString utilisateur_courant() { return nom_utilisateur(::geteuid()); }

bool existe(const QString &path)
{
    struct stat etat {
    };
    return ::lstat(QFile::encodeName(path).constData(), &etat) == 0;
}

} // namespace platform
