#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What the fuzz targets share: the input as bytes, and a file holding it for
// the readers that only take a path (pop3.ini, clefs.dat).
namespace fuzz {

inline QByteArray octets(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

// Writes the input into this process's own scratch file and returns its path.
QString fichier(const uint8_t *data, size_t size, const char *nom);

} // namespace fuzz
