#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// filebat.dat: the bare names of the batch files of the actions directory, one a
// line, in the order of ordre_noms (by name, letter case ignored).
namespace fichier_commandes {

// Every line, empty ones included; nothing when the file cannot be opened.
std::optional<QStringList> lire(const QString &path);

// Replaces the file atomically; an empty list gives an empty file.
bool ecrire(const QString &path, const QStringList &names);

// The names matching "*.bat" (letter case ignored) directly in a directory,
// in the order of ordre_noms; nothing when it cannot be read.
std::optional<QStringList> lister_batch(const QString &directory);

} // namespace fichier_commandes
