#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Whole files in the tests' temporary folders.
namespace test_files {

// The file's bytes, or "<missing>" when it cannot be read, so that comparing
// it with any expected content fails.
inline QByteArray lire(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The bytes as the whole file; false when they could not all be written.
inline bool ecrire(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace test_files
