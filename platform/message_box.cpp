#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>

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
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void installer_gestionnaire_messages(MessageHandler h)
{
    handler() = std::move(h);
}

} // namespace platform
