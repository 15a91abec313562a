#pragma once

#include <QString>

namespace platform {

// What each windowed program does once its QApplication exists: Qt's own
// dialogs and buttons in French, the program's icon on its windows and in the
// task bar, and a caption font as narrow as the one the windows were drawn for.
// nomIcone names the icon: "tramelon" or "kestrine".
void preparer_application(const QString &nomIcone);

} // namespace platform
