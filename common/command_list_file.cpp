#include "common/command_list_file.h"

#include "common/ansi_text.h"
#include "common/name_order.h"

#include <QDir>
#include <QFileInfo>

namespace fichier_commandes {

std::optional<QStringList> lire(const QString &path) { return ansi::readLines(path); }

bool ecrire(const QString &path, const QStringList &names) { return ansi::writeLines(path, names); }

std::optional<QStringList> lister_batch(const QString &directory)
{
    const QDir dir(directory);
    if (directory.isEmpty() || !dir.exists() || !QFileInfo(directory).isReadable())
        return std::nullopt;
    // Name filters ignore letter case unless told otherwise, like the pattern
    // "*.bat" of a Windows file list.
    QStringList names =
        dir.entryList({QStringLiteral("*.bat")}, QDir::Files | QDir::Hidden, QDir::Unsorted);
    ordre_noms::trier(names);
    return names;
}

} // namespace fichier_commandes
