#pragma once

#include "server/mail/pop3_message.h"

#include <QString>

#include <optional>

// Reads a fetched mail from its file, within the limits of mail_limits.h: one
// pass over the file checks nesting and headers, then the parser runs with
// the body left in the file. A mail beyond the limits comes back with only
// what its own header block says, marked illisible. raw stays empty: the file
// holds the bytes. Nothing when the file cannot be opened.
std::optional<Pop3Message> read_mail_file(const QString &path);
