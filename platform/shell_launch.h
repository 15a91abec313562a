#pragma once

#include <QString>

#include <QtGlobal>

namespace platform {

// Results of ShellExecute, as the Windows shell gives them: above 32 is success.
inline constexpr qint32 kShellOk = 42;
inline constexpr qint32 kShellFileNotFound = 2;
inline constexpr qint32 kShellPathNotFound = 3;
inline constexpr qint32 kShellAccessDenied = 5;
inline constexpr qint32 kShellOutOfResources = 0;

// Opens a file with its default action, with directory as working directory, and
// returns at once; the action runs on its own. On POSIX the file is a batch file
// run by /bin/sh, detached in a session of its own so that it outlives the
// server and leaves no zombie behind; it inherits no descriptor of the server
// but standard input, output and error, all three on /dev/null.
qint32 ShellExecute(const QString &file, const QString &directory);

} // namespace platform
