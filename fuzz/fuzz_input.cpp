#include "fuzz/fuzz_input.h"

#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace fuzz {

namespace {
// Made before main, so that it outlives the handler below that removes it.
QString g_dossier;
} // namespace

QString fichier(const uint8_t *data, size_t size, const char *nom)
{
    if (g_dossier.isEmpty()) {
        g_dossier = QDir::tempPath() + QStringLiteral("/tramelon-fuzz-%1/").arg(::getpid());
        QDir().mkpath(g_dossier);
        // libFuzzer ends through exit(): the scratch folder goes with the run.
        std::atexit([] { QDir(g_dossier).removeRecursively(); });
    }
    const QString chemin = g_dossier + QString::fromLatin1(nom);
    std::FILE *f = std::fopen(QFile::encodeName(chemin).constData(), "wbe");
    if (!f)
        std::abort(); // the scratch folder is ours: not writing it is a broken set-up
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    return chemin;
}

} // namespace fuzz
