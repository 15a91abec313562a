#pragma once

#include <QString>

#include <functional>

namespace platform {

// Every message of the programs goes through here: a modal box with the
// program's title and one OK button. Tests install a handler instead, so that no
// box ever waits for a click that will not come.
void afficher_message(const QString &text);

using MessageHandler = std::function<void(const QString &text)>;
// Installs a handler that receives the texts instead of a box; an empty handler
// restores the real box.
void installer_gestionnaire_messages(MessageHandler handler);

} // namespace platform
