#pragma once

#include <QString>

// What the server does once a batch file it launched has ended: section
// "reponse" of pop3.ini, set by hand. Nothing set (the default) keeps the
// replies as they always were: one per mail.
struct ReglagesResultat {
    // "resultat=oui": the sender of a command gets a second mail once its
    // batch file has ended, with its exit code, its duration and the end of
    // its output.
    bool resultat = false;
    // "duree_max": seconds a batch file may run before its process group is
    // ended (SIGTERM, then SIGKILL); 0, the default, sets no limit.
    int duree_max = 0;
};

namespace config {

// The longest limit accepted: a week.
inline constexpr int kDureeMaxLimite = 7 * 24 * 3600;

ReglagesResultat charge_config_reponse(const QString &fichier_ini);

} // namespace config
