#pragma once

#include <QString>

namespace platform {

// A directory path with its final separator: file names are appended directly.
// A path that already ends in "/" or "\" (a drive's root) is kept as it is.
QString avec_separateur(const QString &directory);

// The folder of the running executable, with its final separator.
QString dossier_application();

} // namespace platform
