#include "server/core/notification_systemd.h"

#include <systemd/sd-daemon.h>

namespace notification_systemd {

namespace {

void envoyer(const QByteArray &message)
{
    // NOTIFY_SOCKET stays set: the unit takes messages from its main process
    // only (NotifyAccess=main), so a batch file that inherits it is not heard.
    // A message that cannot be sent changes nothing for the polling.
    sd_notify(0, message.constData());
}

} // namespace

void pret(const QString &statut) { envoyer("READY=1\nSTATUS=" + statut.toUtf8()); }

void statut(const QString &statut) { envoyer("STATUS=" + statut.toUtf8()); }

void battement() { envoyer(QByteArrayLiteral("WATCHDOG=1")); }

} // namespace notification_systemd
