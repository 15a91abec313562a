#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The shared files are plain text in the machine's own code page (the locale's
// encoding here), every line ended by CR LF. Readers also take a bare LF.
namespace ansi {

QString decode(const QByteArray &bytes);
QByteArray encode(const QString &text);

// The lines of a file's bytes without their line ends, at most maxLines of them
// (a negative number means all).
QStringList splitLines(const QByteArray &content, int maxLines = -1);

// Lines of a text file without their line ends; nothing when the file cannot be opened.
// At most maxLines lines are taken (a negative number means all).
std::optional<QStringList> readLines(const QString &path, int maxLines = -1);

// Replaces the file with these lines, each followed by CR LF. The new content is
// written beside the old file and then put in its place, so a crash never leaves
// a half-written file, and a failed write (a full disk) leaves the old one whole.
// A new file is readable by its owner only. False when the file could not be
// written; error (when given) then says why.
bool writeLines(const QString &path, const QStringList &lines, QString *error = nullptr);

} // namespace ansi
