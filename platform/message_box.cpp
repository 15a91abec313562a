#include "platform/message_box.h"

#include <cstdio>

namespace platform {

namespace {
MessageHandler &handler()
{
    static MessageHandler h;
    return h;
}
} // namespace

void afficher_message(const QString &text)
{
    if (handler()) {
        handler()(text);
        return;
    }
    // Without a window the text goes where an operator or the service's journal sees it.
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void installer_gestionnaire_messages(MessageHandler h) { handler() = std::move(h); }

} // namespace platform
