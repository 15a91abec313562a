#include "platform/app_folder.h"

#include <QCoreApplication>

namespace platform {

QString avec_separateur(const QString &directory)
{
    if (directory.endsWith(u'/') || directory.endsWith(u'\\'))
        return directory;
    return directory + u'/';
}

QString dossier_application()
{
    return avec_separateur(QCoreApplication::applicationDirPath());
}

} // namespace platform
