#include "platform/file_copy.h"

#include "common/durable_file.h"

#include <QFile>
#include <QFileInfo>

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
    const QByteArray content = in.readAll();
    if (content.size() != from.size())
        return false; // a short read must not become a short copy
    // Written beside the target and renamed over it once whole: a failed copy
    // (a full disk) leaves the previous one whole.
    return durable::remplacer(destination, content, nullptr, from.permissions());
}

} // namespace platform
