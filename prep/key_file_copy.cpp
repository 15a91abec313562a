#include "prep/key_file_copy.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kestrine {

bool remplacer_fichier_clefs(const QString &source, const QString &destination)
{
    const QFileInfo from(source);
    const QFileInfo to(destination);
    if (to.exists() && from.exists() && from.canonicalFilePath() == to.canonicalFilePath())
        return true;

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return false;

    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace kestrine
