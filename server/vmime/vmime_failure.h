#pragma once

#include "server/vmime/mail_failure.h"

#include <exception>

// Turns what vmime throws into one of our failures with a text for the user,
// naming the cause vmime nests inside its own exceptions. elapsedMs and
// timeoutMs tell a real timeout from a refused connect, which vmime reports
// as a timeout too.
MailFailure describe_vmime_failure(const std::exception &error, qint64 elapsedMs, int timeoutMs);
