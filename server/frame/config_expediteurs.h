#pragma once

#include <QString>

// Who may command the server: section "expediteurs" of pop3.ini. Nothing set
// (the default) means every mail is judged and answered.
struct ReglesExpediteurs {
    // "autorises": addresses and "*@domaine" patterns, separated by commas;
    // empty lets everyone through.
    QString autorises;
    // "authentification": "non", or "dmarc" to require the receiving server's
    // results to show the From domain authenticated. Any value but "non" (or
    // nothing) requires it: a mistyped setting fails closed.
    QString authentification = QStringLiteral("non");
    // "serveur_authentification": the authserv-id whose results are trusted;
    // empty takes the topmost results field whoever wrote it.
    QString serveur_authentification;

    bool dmarc_exige() const;
    // Either key is set: mails of senders that fail it are neither judged nor answered.
    bool active() const;

    bool operator==(const ReglesExpediteurs &) const = default;
};

namespace config {

// The longest list read back from pop3.ini.
inline constexpr int kTailleLectureListe = 4096;

ReglesExpediteurs charge_config_expediteurs(const QString &fichier_ini);
// Writes the three keys; false when pop3.ini could not be rewritten.
bool sauve_config_expediteurs(const ReglesExpediteurs &regles, const QString &fichier_ini);

} // namespace config
