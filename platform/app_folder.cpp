#include "platform/app_folder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace platform {

QString avec_separateur(const QString &directory)
{
    if (directory.endsWith(u'/') || directory.endsWith(u'\\'))
        return directory;
    return directory + u'/';
}

QString dossier_application() { return avec_separateur(QCoreApplication::applicationDirPath()); }

std::optional<QString> dossier_de_travail(const QString &dossierDonne)
{
    if (dossierDonne.isEmpty())
        return dossier_application();
    const QFileInfo dossier(dossierDonne);
    if (!dossier.isDir())
        return std::nullopt;
    return avec_separateur(dossier.absoluteFilePath());
}

} // namespace platform
