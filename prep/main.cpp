// Kestrine, the command message preparation tool.
#include "platform/app_folder.h"
#include "platform/ecran.h"
#include "platform/widgets/application_setup.h"
#include "platform/widgets/message_box_window.h"
#include "prep/fin_de_session.h"
#include "prep/form1.h"
#include "prep/options.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Before the application object: it needs a display, and these do not.
    if (const std::optional<int> sortie = reponse_sans_fenetre(argc, argv))
        return *sortie;
    // Without one, Qt would abort the program with a text of its own.
    if (!platform::ecran_disponible()) {
        std::fputs("kestrine: aucun écran (ni DISPLAY ni WAYLAND_DISPLAY) : Kestrine est un "
                   "programme à fenêtre, lancez-le dans une session graphique\n",
                   stderr);
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrine"));
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Kestrine : préparation des mails de commande pour Tramelon."));
    const QCommandLineOption folder(
        QStringLiteral("folder"),
        QStringLiteral("Dossier client (clefs.dat, filebat.dat) ; par défaut celui du programme."),
        QStringLiteral("DIR"));
    options.addOption(folder);
    options.process(app);

    const std::optional<QString> rep_appli = platform::dossier_de_travail(options.value(folder));
    if (!rep_appli) {
        std::fprintf(stderr, "kestrine: le dossier %s n'existe pas\n",
                     qPrintable(options.value(folder)));
        return 2;
    }

    platform::preparer_application(QStringLiteral("kestrine"));
    platform::installer_boites_de_message();
    kestrine::Form1 form(*rep_appli);
    kestrine::quitter_en_fin_de_session(form);
    form.show();
    return QApplication::exec();
}
