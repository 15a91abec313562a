#include "platform/ecran.h"

#include <QByteArray>
#include <QList>

#include <cstdlib>

namespace platform {

namespace {

bool defini(const char *variable)
{
    const char *valeur = std::getenv(variable);
    return valeur && *valeur;
}

} // namespace

bool ecran_disponible()
{
    if (defini("DISPLAY") || defini("WAYLAND_DISPLAY"))
        return true;
    // "xcb", "wayland" or a list of them ("wayland;xcb") still need a display;
    // any other platform is the operator's choice and draws somewhere else.
    const QByteArray choix = qgetenv("QT_QPA_PLATFORM").trimmed();
    if (choix.isEmpty())
        return false;
    const QList<QByteArray> noms = choix.split(';');
    for (const QByteArray &nom : noms) {
        const QByteArray plateforme = nom.split(':').first().trimmed();
        if (plateforme != "xcb" && !plateforme.startsWith("wayland"))
            return true;
    }
    return false;
}

} // namespace platform
