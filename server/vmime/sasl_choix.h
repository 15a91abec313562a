#pragma once

#include <functional>
#include <string>

// vmime 0.9.2 asks GNU SASL to suggest one of the mechanisms the server
// offers before it lets the authenticator choose, and gives up without any
// AUTH (then QUIT) when the library suggests none. GNU SASL knows neither
// XOAUTH2 nor OAUTHBEARER: a server that offers only those never got a
// sign-in. While a ChoixSasl lives on a thread, the suggestions made on that
// thread are its own; on every other thread the library's stand.
class ChoixSasl
{
public:
    // Gets the mechanisms vmime read in the server's offer (CAPA SASL, EHLO
    // AUTH) and can use, separated by blanks; returns the name of the one to
    // use, a string that outlives the call, or nullptr for none.
    using Choix = std::function<const char *(const std::string &offre)>;

    explicit ChoixSasl(Choix choisir);
    ~ChoixSasl();
    ChoixSasl(const ChoixSasl &) = delete;
    ChoixSasl &operator=(const ChoixSasl &) = delete;

private:
    Choix m_choisir;
    const ChoixSasl *m_precedent;

    friend const char *suggestion_en_cours(const std::string &offre, bool *prise);
};
