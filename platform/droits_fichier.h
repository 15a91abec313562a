#pragma once

#include <QString>

// What an operator needs to put a file's access right: who owns it and its
// permission bits, and who the program runs as. A file made by "sudo" belongs
// to root, and the service's account then cannot read it.
namespace platform {

// "propriétaire root, droits 0600"; empty when the file cannot be examined.
QString proprietaire_et_droits(const QString &path);

// The user this process runs as, by name ("uid 1234" when it has none).
QString utilisateur_courant();

// The file exists (whatever its rights: a file the process cannot read still
// exists).
bool existe(const QString &path);

} // namespace platform
