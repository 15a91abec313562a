// Tramelon, the mail command server.
#include "platform/app_folder.h"
#include "platform/widgets/application_setup.h"
#include "platform/widgets/message_box_window.h"
#include "server/app/options.h"
#include "server/core/connexion_oauth2.h"
#include "server/core/oauth_jeton.h"
#include "server/core/oauth_serveur.h"
#include "server/core/serveur.h"
#include "server/core/sortie_console.h"
#include "server/frame/termination.h"
#include "server/vmime/lecteur_borne.h"
#include "server/vmime/vmime_pop3_session.h"
#include "server/vmime/vmime_smtp_sender.h"
#include "server/windows/fenetre_serveur.h"
#include "server/windows/form1.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Once the key file is written back the program ends at once: no further
// handler runs, whatever mail call may still be waiting.
void fin(int code)
{
    std::fflush(nullptr);
    std::_Exit(code);
}

int executer(const QString &rep_appli, bool avecFenetre)
{
    SourceJeton jetons(rep_appli);
    ComposantsMail mail = avec_oauth2(jetons, std::make_unique<VmimePop3Session>(),
                                      std::make_unique<VmimeSmtpSender>());
    Serveur serveur(rep_appli, std::move(mail.session), std::move(mail.smtp), &fin);
    arret_sur_revocation(serveur, jetons);
    std::unique_ptr<SortieConsole> console;
    if (!avecFenetre)
        console = std::make_unique<SortieConsole>(serveur.affichage());
    if (!serveur.demarrer())
        return 1;
    installer_arret_sur_signal(&serveur, [&serveur] { serveur.arret(); });
    if (!avecFenetre)
        return QCoreApplication::exec();

    FenetreServeur fenetres(serveur);
    fenetres.form().show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    const OptionsServeur options = lire_options(argc, argv);
    if (options.sortie)
        return *options.sortie;
    // The mail reader is forked here, before any thread exists (lecteur_borne.h).
    if (!options.connexionOAuth2)
        lecture_bornee::demarrer_lecteur();

    std::unique_ptr<QCoreApplication> app;
    if (options.sansFenetre || options.connexionOAuth2) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
        platform::preparer_application(QStringLiteral("tramelon"));
        platform::installer_boites_de_message();
    }
    QCoreApplication::setApplicationName(QStringLiteral("Tramelon"));

    const std::optional<QString> rep_appli = platform::dossier_de_travail(options.dossier);
    if (!rep_appli) {
        std::fprintf(stderr, "tramelon: le dossier %s n'existe pas\n", qPrintable(options.dossier));
        return 2;
    }
    if (options.connexionOAuth2)
        return connexion_oauth2_terminal(*rep_appli);
    return executer(*rep_appli, !options.sansFenetre);
}
