// Tramelon, the mail command server.
#include "platform/app_folder.h"
#include "server/frame/form1.h"
#include "server/frame/serveur.h"
#include "server/frame/termination.h"
#include "server/mail/vmime_pop3_session.h"
#include "server/mail/vmime_smtp_sender.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tramelon"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tramelon"));

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
