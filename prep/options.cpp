#include "prep/options.h"

#include <cstdio>
#include <cstring>

namespace {

const char kAide[] = "Usage : kestrine [--folder DIR]\n"
                     "Kestrine : préparation des mails de commande pour Tramelon. Propose les\n"
                     "commandes et les clefs inutilisées du dossier client, compose le mail de\n"
                     "commande et le copie dans le presse-papier.\n"
                     "\n"
                     "  --folder DIR  dossier client (clefs.dat, filebat.dat) ; par défaut le\n"
                     "                dossier du programme\n"
                     "  --version     affiche la version\n"
                     "  --help        affiche cette aide\n";

bool est(const char *argument, const char *option) { return std::strcmp(argument, option) == 0; }

} // namespace

std::optional<int> reponse_sans_fenetre(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (est(argument, "--"))
            break;
        if (est(argument, "--folder") || est(argument, "-folder")) {
            ++i; // its value is a folder name, whatever it looks like
        } else if (est(argument, "--help") || est(argument, "-h") || est(argument, "-?") ||
                   est(argument, "--help-all")) {
            std::fputs(kAide, stdout);
            return 0;
        } else if (est(argument, "--version") || est(argument, "-v")) {
            std::printf("kestrine %s\n", PROJECT_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}
