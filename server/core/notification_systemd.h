#pragma once

#include <QString>

// What the server tells the service manager through sd_notify: that it has
// started, a status line that `systemctl status` shows, and that its cycle
// still turns (the unit's watchdog). Outside systemd (no NOTIFY_SOCKET) every
// call does nothing.
namespace notification_systemd {

void pret(const QString &statut);
void statut(const QString &statut);
void battement();

} // namespace notification_systemd
