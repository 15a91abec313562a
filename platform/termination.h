#pragma once

#include <functional>

class QObject;

// A termination request from the system (SIGTERM, SIGINT, SIGHUP at the end of a
// session) runs the given shut-down on the user-interface thread, as closing the
// window would, so the key file is written back. Should that shut-down not be
// over within two seconds (the window's thread held up), the program ends anyway.
void installer_arret_sur_signal(QObject *context, std::function<void()> arret);
