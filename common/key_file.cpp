#include "common/key_file.h"

#include "common/ansi_text.h"
#include "common/durable_file.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace fichier_clefs {

namespace {

// Size, time and identity of the file open on handle, or of path when no
// handle is given; false when they cannot be had.
bool identite(int handle, const QString &path, Version &v)
{
#ifdef Q_OS_UNIX
    struct stat st {
    };
    const int rc =
        handle >= 0 ? ::fstat(handle, &st) : ::stat(QFile::encodeName(path).constData(), &st);
    if (rc != 0)
        return false;
    v.taille = st.st_size;
    v.modifie_ns = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    v.inode = st.st_ino;
    v.peripherique = st.st_dev;
#else
    Q_UNUSED(handle);
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    v.taille = info.size();
    v.modifie_ns = info.lastModified().toMSecsSinceEpoch() * 1000000;
#endif
    return true;
}

} // namespace

Version version(const QString &path)
{
    Version v;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        // Read through the handle that was measured: both describe one version.
        v.existe = identite(file.handle(), path, v);
        v.contenu = file.readAll();
        v.lisible = v.existe && file.error() == QFileDevice::NoError;
    } else {
        v.existe = QFileInfo::exists(path);
        if (v.existe)
            identite(-1, path, v);
    }
    return v;
}

std::optional<QStringList> lire(const QString &path, int maxLines)
{
    return ansi::readLines(path, maxLines);
}

std::optional<int> charger(const QString &path, QStringList &slots, int slotCount, Version *lue)
{
    const Version v = version(path);
    if (!v.lisible)
        return std::nullopt;
    const QStringList lines = ansi::splitLines(v.contenu, slotCount - 1);
    QStringList table(slotCount);
    for (int n = 0; n < lines.size(); ++n)
        table[n + 1] = lines.at(n);
    slots = table;
    if (lue)
        *lue = v;
    return int(lines.size());
}

bool ecrire(const QString &path, const QStringList &slots, QString *error, Version *ecrite)
{
    QByteArray content;
    for (int i = kPremierSlot; i <= kDernierSlotEcrit && i < slots.size(); ++i) {
        if (!slots.at(i).isEmpty())
            content += ansi::encode(slots.at(i)) + "\r\n";
    }
    if (!durable::remplacer(path, content, error))
        return false;
    if (ecrite) {
        // What was written, as it stands now: a later change by anyone else
        // differs from it in one of these.
        Version v;
        v.existe = identite(-1, path, v);
        v.lisible = v.existe;
        v.contenu = content;
        *ecrite = v;
    }
    return true;
}

} // namespace fichier_clefs
