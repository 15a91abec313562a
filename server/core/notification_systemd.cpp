#include "server/core/notification_systemd.h"

#include <systemd/sd-daemon.h>

namespace notification_systemd {

namespace {

void envoyer(const QByteArray &message)
{
    // unset_environment 0: the batch files may be started under systemd as
    // well, but they are not the service and the variable is removed for them
    // by their launch; a failure to notify changes nothing for the polling.
    sd_notify(0, message.constData());
}

} // namespace

void pret(const QString &statut) { envoyer("READY=1\nSTATUS=" + statut.toUtf8()); }

void statut(const QString &statut) { envoyer("STATUS=" + statut.toUtf8()); }

void battement() { envoyer(QByteArrayLiteral("WATCHDOG=1")); }

} // namespace notification_systemd
