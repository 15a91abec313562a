#pragma once

#include <QString>

#include <optional>

// Tramelon's command line, read before any application object exists, because
// it decides whether there will be a window at all.
struct OptionsServeur {
    bool sansFenetre = false;     // --headless
    QString dossier;              // --folder DIR; empty: the executable's folder
    bool connexionOAuth2 = false; // --connexion-oauth2: the sign-in, then the end
    bool verifier = false;        // --verifier: the settings checked, then the end
    // Set when the program is to end at once with this status (--help,
    // --version, an option not understood); the text was written.
    std::optional<int> sortie;
};

OptionsServeur lire_options(int argc, char *argv[]);
