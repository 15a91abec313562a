#pragma once

#include <optional>

// Kestrine's answers that need no window: --help and --version, read before
// any application object exists, so that they work without a display. The
// other options (--folder, Qt's own) are left to the application.
// Returns the exit status once the text is written; nothing to go on.
std::optional<int> reponse_sans_fenetre(int argc, char *argv[]);
