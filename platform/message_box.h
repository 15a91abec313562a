#pragma once

#include <QString>

#include <functional>

namespace platform {

// Every message of the programs goes through here. The windowed programs
// install a modal box with the program's title and one OK button; without a
// handler the text goes to standard error. Tests install a handler of their own,
// so that no box ever waits for a click that will not come.
void afficher_message(const QString &text);

using MessageHandler = std::function<void(const QString &text)>;
// Installs a handler that receives the texts; an empty handler restores the
// default (standard error).
void installer_gestionnaire_messages(MessageHandler handler);

} // namespace platform
