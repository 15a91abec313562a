// Tramelon, the mail command server.
#include "platform/app_folder.h"
#include "platform/widgets/message_box_window.h"
#include "server/windows/form1.h"
#include "server/core/serveur.h"
#include "server/frame/termination.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tramelon"));
    platform::installer_boites_de_message();

    // Once the key file is written back the program ends at once: no further
    // handler runs, whatever mail call may still be waiting.
    auto fin = [](int code) {
        std::fflush(nullptr);
        std::_Exit(code);
    };
    Serveur serveur(platform::dossier_application(), std::make_unique<VmimePop3Session>(),
                    std::make_unique<VmimeSmtpSender>(), fin);
    if (!serveur.demarrer())
        return 1;
    installer_arret_sur_signal(&serveur, [&serveur] { serveur.arret(); });
    serveur.form().show();
    return app.exec();
}
