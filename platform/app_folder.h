#pragma once

#include <QString>

#include <optional>

namespace platform {

// A directory path with its final separator: file names are appended directly.
// A path that already ends in "/" or "\" (a drive's root) is kept as it is.
QString avec_separateur(const QString &directory);

// The folder of the running executable, with its final separator.
QString dossier_application();

// The folder a program keeps its files in: the one given on the command line
// (--folder), else the executable's own. Nothing when the given folder does
// not exist.
std::optional<QString> dossier_de_travail(const QString &dossierDonne);

} // namespace platform
