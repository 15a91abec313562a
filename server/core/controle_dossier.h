#pragma once

#include "server/frame/server_state.h"

#include <QString>
#include <QStringList>

// What the server needs of its folder before it takes a mail: the key file
// readable, and the folder, the archives and the journal writable by the user
// it runs as. Otherwise the first mail would fail with a text that names
// another cause ("No such file or directory"); here each fault says what is
// wrong and how to put it right.
namespace controle_dossier {

// Why clefs.dat could not be loaded: "pas de fichier clef" when there is
// none, else the owner and the rights of the file that cannot be read.
QString texte_clefs_non_chargees(const ServerState &state);

// The folder, arch_messages/ (when it exists: it is made in the folder) and
// the month's journal (when it exists) are each tried for writing, leaving
// nothing behind. One French line per fault, with its fix; empty when all
// can be written. The journal's path must be set (journal::initialise).
QStringList controle_ecriture(const ServerState &state);

// The batch files (*.bat) lying directly in the actions folder; -1 when the
// folder cannot be listed.
int nombre_fichiers_bat(const QString &rep_actions);

} // namespace controle_dossier
