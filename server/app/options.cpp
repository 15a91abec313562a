#include "server/app/options.h"

#include <cstdio>

namespace {

const char kAide[] =
    "Usage : tramelon [--headless] [--trace] [--folder DIR] [--verifier]\n"
    "        tramelon --connexion-oauth2 [--port N] [--coller] [--folder DIR]\n"
    "        tramelon --etat [--folder DIR]\n"
    "Tramelon, serveur de commandes par mail : relève une boîte POP3, lance les\n"
    "fichiers de commande des mails \"Actions\" dont le code est valide et répond\n"
    "à chaque mail par SMTP.\n"
    "\n"
    "  --folder DIR  dossier du serveur (clefs.dat, pop3.ini, journaux, archives) ;\n"
    "                par défaut le dossier du programme\n"
    "  --headless    sans fenêtre ni écran : les journaux de la fenêtre vont sur\n"
    "                la sortie d'erreur ; SIGTERM arrête le serveur proprement\n"
    "  --trace       avec --headless, les dialogues POP3 et SMTP aussi (sans\n"
    "                l'option : une ligne par mail jugé, par erreur et par\n"
    "                changement d'état)\n"
    "  --etat        affiche l'état du serveur qui tourne sur ce dossier (dernière\n"
    "                relève, clefs, réponses en attente, relève suspendue), tel\n"
    "                qu'il l'a écrit à la fin de son dernier cycle dans etat.txt\n"
    "  --connexion-oauth2\n"
    "                connexion OAuth 2.0 à la boîte (pop3.ini : [mail] connexion=oauth2\n"
    "                et section [oauth2]) : affiche l'adresse et le code à saisir dans\n"
    "                un navigateur, attend l'autorisation et enregistre le jeton dans\n"
    "                jeton_oauth2.dat ; à faire une fois avant de lancer le serveur\n"
    "  --port N      avec --connexion-oauth2, connexion par navigateur (google) :\n"
    "                attend le retour du navigateur sur 127.0.0.1:N, pour un tunnel\n"
    "                depuis l'ordinateur qui a le navigateur (ssh -L N:127.0.0.1:N)\n"
    "  --coller      avec --connexion-oauth2, connexion par navigateur : ouvrez\n"
    "                l'adresse affichée sur n'importe quel ordinateur, puis collez\n"
    "                sur l'entrée standard l'adresse où le navigateur a été renvoyé ;\n"
    "                le navigateur a 10 minutes pour revenir\n"
    "  --verifier    vérifie le dossier sans toucher à la boîte, aux clefs ni au\n"
    "                journal : réglages (et ceux qui ont été corrigés), fichiers et\n"
    "                droits, dossier des actions,\n"
    "                connexion POP3 (mails comptés, aucun relevé ni effacé),\n"
    "                connexion SMTP jusqu'à l'authentification (aucun mail\n"
    "                envoyé), jeton OAuth2 ; une ligne par point vérifié ;\n"
    "                code de sortie 0 si tout va bien, 1 sinon\n"
    "  --version     affiche la version\n"
    "  --help        affiche cette aide\n";

} // namespace

OptionsServeur lire_options(int argc, char *argv[])
{
    OptionsServeur options;
    for (int i = 1; i < argc; ++i) {
        const QString option = QString::fromLocal8Bit(argv[i]);
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            std::fputs(kAide, stdout);
            options.sortie = 0;
        } else if (option == QLatin1String("--version")) {
            std::printf("tramelon %s\n", PROJECT_VERSION);
            options.sortie = 0;
        } else if (option == QLatin1String("--headless")) {
            options.sansFenetre = true;
        } else if (option == QLatin1String("--trace")) {
            options.trace = true;
        } else if (option == QLatin1String("--etat")) {
            options.etat = true;
        } else if (option == QLatin1String("--connexion-oauth2")) {
            options.connexionOAuth2 = true;
        } else if (option == QLatin1String("--port") && i + 1 < argc) {
            bool nombre = false;
            const uint port = QString::fromLocal8Bit(argv[++i]).toUInt(&nombre);
            if (!nombre || port == 0 || port > 65535) {
                std::fprintf(stderr,
                             "tramelon: --port attend un numéro de port (1 à 65535), "
                             "pas %s\n",
                             argv[i]);
                options.sortie = 2;
            }
            options.portOAuth2 = quint16(port);
        } else if (option == QLatin1String("--coller")) {
            options.collerOAuth2 = true;
        } else if (option == QLatin1String("--verifier")) {
            options.verifier = true;
        } else if (option == QLatin1String("--folder") && i + 1 < argc &&
                   !QByteArray(argv[i + 1]).startsWith("--")) {
            options.dossier = QString::fromLocal8Bit(argv[++i]);
        } else if (option == QLatin1String("--folder") || option == QLatin1String("--folder=")) {
            std::fprintf(stderr, "tramelon: l'option --folder demande un dossier : "
                                 "--folder DOSSIER\n");
            options.sortie = 2;
        } else if (option.startsWith(QLatin1String("--folder="))) {
            options.dossier = option.mid(int(sizeof("--folder=")) - 1);
        } else {
            std::fprintf(stderr, "tramelon: option non reconnue : %s\n%s",
                         option.toLocal8Bit().constData(), kAide);
            options.sortie = 2;
        }
        if (options.sortie)
            break;
    }
    if (!options.sortie && !options.connexionOAuth2 &&
        (options.portOAuth2 != 0 || options.collerOAuth2)) {
        std::fputs("tramelon: --port et --coller ne vont qu'avec --connexion-oauth2\n", stderr);
        options.sortie = 2;
    }
    return options;
}
