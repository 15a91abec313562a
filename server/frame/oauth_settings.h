#pragma once

#include <QString>

// OAuth 2.0 sign-in to the mailbox: the "connexion" key of section "mail" and
// section "oauth2" of pop3.ini. Absent keys mean password sign-in, as before.
namespace oauth2 {

enum class Fournisseur { Microsoft, Google, Autre };

struct Reglages {
    bool actif = false; // [mail] connexion=oauth2
    Fournisseur fournisseur = Fournisseur::Autre;
    QString login; // the mailbox address
    QString client_id;
    QString client_secret;    // optional: public clients have none
    QString url_appareil;     // device authorization endpoint
    QString url_jeton;        // token endpoint
    QString url_autorisation; // authorization endpoint, for the browser sign-in
    QString portee;           // scopes, separated by spaces

    // Google refuses the mail scope to the device flow: its users sign in
    // through a browser instead.
    bool par_navigateur() const { return fournisseur == Fournisseur::Google; }
};

inline constexpr char16_t kConnexionOAuth2[] = u"oauth2";
inline constexpr char16_t kConnexionMotDePasse[] = u"mot_de_passe";
inline constexpr char16_t kFichierJeton[] = u"jeton_oauth2.dat";

// The provider's presets, overridden by the keys that are set.
Reglages lire_reglages(const QString &fichier_ini);

// Empty when the address may carry tokens: https://, or http:// to a loopback
// address only. Otherwise why not, in French.
QString verifie_url(const QString &url);

// Empty when a sign-in can be attempted with these settings, else why not.
QString verifie(const Reglages &reglages);

} // namespace oauth2
