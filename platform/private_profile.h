#pragma once

#include <QString>

// Initialisation files read and written one key at a time, as the Windows
// private-profile calls do: section and key names ignore letter case, a value
// read loses the blanks around it, a missing file, section or key gives the
// default, and a write keeps every other line of the file.
namespace platform {

// At most size - 1 characters of the value (or of the default) are returned.
QString GetPrivateProfileString(const QString &section, const QString &key,
                                const QString &defaultValue, int size, const QString &file);

// Replaces the key's line, or adds the key at the end of its section, or the
// section at the end of the file. A file created here is readable by its owner
// only, since it may hold a password; one the operator made keeps its modes.
// False when the file could not be written; the old file is then left whole.
bool WritePrivateProfileString(const QString &section, const QString &key, const QString &value,
                               const QString &file);

} // namespace platform
