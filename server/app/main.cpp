// Tramelon, the mail command server.
#include "platform/app_folder.h"
#include "platform/ecran.h"
#include "platform/termination.h"
#include "platform/widgets/application_setup.h"
#include "platform/widgets/message_box_window.h"
#include "server/app/options.h"
#include "server/core/fichier_etat.h"
#include "server/core/oauth/connexion_oauth2.h"
#include "server/core/oauth/oauth_jeton.h"
#include "server/core/oauth/oauth_serveur.h"
#include "server/core/serveur.h"
#include "server/core/sortie_console.h"
#include "server/core/verification.h"
#include "server/core/verrou_dossier.h"
#include "server/vmime/lecteur_borne.h"
#include "server/vmime/sonnette_imap.h"
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

// --etat: what the server running on the folder last wrote of itself.
int afficher_etat(const QString &rep_appli)
{
    QString erreur;
    const std::optional<QString> etat = fichier_etat::lire(rep_appli, &erreur);
    if (!etat) {
        std::fprintf(stderr, "tramelon: %s\n", erreur.toLocal8Bit().constData());
        return 1;
    }
    std::fputs(etat->toLocal8Bit().constData(), stdout);
    return 0;
}

// --verifier: one line per check on standard output, 0 when all passed.
int verifier(const QString &rep_appli)
{
    SourceJeton jetons(rep_appli);
    ComposantsMail mail = avec_oauth2(jetons, std::make_unique<VmimePop3Session>(),
                                      std::make_unique<VmimeSmtpSender>());
    Verification verification(
        rep_appli, *mail.session, *mail.smtp, jetons, [](bool reussi, const QString &texte) {
            std::printf("%s %s\n", reussi ? "OK   " : "ÉCHEC", texte.toLocal8Bit().constData());
            std::fflush(stdout);
        });
    return verification.executer() ? 0 : 1;
}

int executer(const QString &rep_appli, bool avecFenetre, bool trace)
{
    // Before anything is read or written: a second server on the folder would
    // strike the same keys.
    VerrouDossier verrou;
    QString erreurVerrou;
    const VerrouDossier::Issue issue = verrou.prendre(rep_appli, &erreurVerrou);
    if (issue == VerrouDossier::Issue::Occupe) {
        std::fprintf(stderr, "tramelon: %s\n", erreurVerrou.toLocal8Bit().constData());
        return 1;
    }
    SourceJeton jetons(rep_appli);
    ComposantsMail mail = avec_oauth2(jetons, std::make_unique<VmimePop3Session>(),
                                      std::make_unique<VmimeSmtpSender>());
    Serveur serveur(rep_appli, std::move(mail.session), std::move(mail.smtp), &fin);
    serveur.installer_sonnette(std::make_unique<SonnetteImap>());
    arret_sur_revocation(serveur, jetons);
    std::unique_ptr<SortieConsole> console;
    if (!avecFenetre)
        console = std::make_unique<SortieConsole>(serveur.affichage(), trace);
    // A lock that could not be made is said after the start-up's own checks,
    // which name the cause better (an unreadable key file, a folder of root's).
    if (!serveur.demarrer())
        return 1;
    if (issue != VerrouDossier::Issue::Pris) {
        std::fprintf(stderr, "tramelon: %s\n", erreurVerrou.toLocal8Bit().constData());
        return 1;
    }
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
    // The mail reader is forked here, before any thread exists (lecteur_borne.h);
    // a reader started again by the server serves from here on.
    if (!options.connexionOAuth2 && !options.verifier && !options.etat)
        lecture_bornee::demarrer_lecteur();

    const bool sansFenetre =
        options.sansFenetre || options.connexionOAuth2 || options.verifier || options.etat;
    if (!sansFenetre && !platform::ecran_disponible()) {
        // Qt would abort with a text of its own; the operator wants the service.
        std::fputs("tramelon: aucun écran (ni DISPLAY ni WAYLAND_DISPLAY) pour la fenêtre du "
                   "serveur : lancez-le sans fenêtre avec « tramelon --headless --folder "
                   "DOSSIER »\n",
                   stderr);
        return 2;
    }

    std::unique_ptr<QCoreApplication> app;
    if (sansFenetre) {
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
    if (options.etat)
        return afficher_etat(*rep_appli);
    if (options.connexionOAuth2)
        return connexion_oauth2_terminal(*rep_appli, {options.portOAuth2, options.collerOAuth2});
    if (options.verifier)
        return verifier(*rep_appli);
    return executer(*rep_appli, !options.sansFenetre, options.trace);
}
