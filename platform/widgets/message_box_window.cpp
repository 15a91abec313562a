#include "platform/widgets/message_box_window.h"

#include "platform/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

void installer_boites_de_message()
{
    installer_gestionnaire_messages([](const QString &text) {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                        QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    });
}

} // namespace platform
