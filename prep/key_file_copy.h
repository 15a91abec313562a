#pragma once

#include <QString>

namespace kestrine {

// Puts a copy of a chosen key file in place of the tool's own. The new content
// replaces the old one in one step, so a copy that fails leaves the old file
// whole; choosing the tool's own file leaves it as it is.
bool remplacer_fichier_clefs(const QString &source, const QString &destination);

} // namespace kestrine
