#include "fuzz/fuzz_input.h"

#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace fuzz {

QString fichier(const uint8_t *data, size_t size, const char *nom)
{
    static const QString dossier = [] {
        const QString chemin =
            QDir::tempPath() + QStringLiteral("/tramelon-fuzz-%1/").arg(::getpid());
        QDir().mkpath(chemin);
        // libFuzzer ends through exit(): the scratch folder goes with the run.
        std::atexit([] {
            QDir(QDir::tempPath() + QStringLiteral("/tramelon-fuzz-%1").arg(::getpid()))
                .removeRecursively();
        });
        return chemin;
    }();
    const QString chemin = dossier + QString::fromLatin1(nom);
    std::FILE *f = std::fopen(QFile::encodeName(chemin).constData(), "wbe");
    if (!f)
        std::abort(); // the scratch folder is ours: not writing it is a broken set-up
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    return chemin;
}

} // namespace fuzz
