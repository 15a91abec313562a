#pragma once

#include <QString>

#include <optional>

// Tramelon's command line, read before any application object exists, because
// it decides whether there will be a window at all.
struct OptionsServeur {
    bool sansFenetre = false;     // --headless
    QString dossier;              // --folder DIR; empty: the executable's folder
    bool connexionOAuth2 = false; // --connexion-oauth2: the sign-in, then the end
    quint16 portOAuth2 = 0;       // --port N: the browser sign-in listens there
    bool collerOAuth2 = false;    // --coller: the browser's address comes back on stdin
    bool trace = false;           // --trace: the mail dialogues on standard error too
    bool etat = false;            // --etat: prints the folder's etat.txt, then the end
    bool verifier = false;        // --verifier: the settings checked, then the end
    // Set when the program is to end at once with this status (--help,
    // --version, an option not understood); the text was written.
    std::optional<int> sortie;
};

OptionsServeur lire_options(int argc, char *argv[]);
