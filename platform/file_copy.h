#pragma once

#include <QString>

namespace platform {

// Copies a file over another one without ever leaving a part-written target: the
// copy is written beside it and renamed over it, so a failed copy leaves the
// previous file whole. Permissions follow the source (a program stays
// runnable). Copying a file onto itself succeeds and changes nothing.
bool copier_remplacer(const QString &source, const QString &destination);

} // namespace platform
