#include "prep/fin_de_session.h"

#include "platform/termination.h"
#include "prep/form1.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QTimer>

namespace kestrine {

void quitter_en_fin_de_session(Form1 &form)
{
    installer_arret_sur_signal(&form, [&form] { form.close(); });
    // The session manager wants the answer before it goes on; the window closes
    // right after, once the request has returned.
    QObject::connect(
        qGuiApp, &QGuiApplication::commitDataRequest, &form,
        [&form](QSessionManager &) { QTimer::singleShot(0, &form, [&form] { form.close(); }); });
}

} // namespace kestrine
