#include "platform/file_copy.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace platform {

bool copier_remplacer(const QString &source, const QString &destination)
{
    const QFileInfo from(source);
    if (!from.isFile())
        return false;
    // A file copied onto itself is already in place; rewriting it from itself
    // could only lose it.
    const QFileInfo to(destination);
    if (to.exists() && from.canonicalFilePath() == to.canonicalFilePath())
        return true;

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    // Written beside the target and renamed over it: a failed copy leaves the
    // previous one whole.
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
            out.cancelWriting();
            break;
        }
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            break;
        }
    }
    if (!out.commit())
        return false;
    return QFile::setPermissions(destination, from.permissions());
}

} // namespace platform
