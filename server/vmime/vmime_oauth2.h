#pragma once

#include "server/vmime/mail_failure.h"

#include <QString>

#include <vmime/net/service.hpp>
#include <vmime/security/sasl/defaultSASLAuthenticator.hpp>

#include <optional>
#include <string>

// Signing in with an OAuth 2.0 access token: SASL XOAUTH2, which vmime knows,
// and OAUTHBEARER (RFC 7628), which it does not, both registered here.
namespace vmime_oauth2 {

// Takes XOAUTH2 when the server offers it, else OAUTHBEARER, whatever else
// the server offers; never a password mechanism, so a server that offers
// neither fails the sign-in, and refus() then says so.
class JetonAuthenticator : public vmime::security::sasl::defaultSASLAuthenticator
{
public:
    const std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>>
    getAcceptableMechanisms(
        const std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>> &available,
        vmime::shared_ptr<vmime::security::sasl::SASLMechanism> suggested) const override;

    // The mechanism to use among those offered (names separated by blanks),
    // nullptr when neither token mechanism is offered.
    const char *choisir(const std::string &offre);

    // What a failed sign-in with the server (serveur: "POP3", "SMTP") means:
    // one that takes no token gets a line saying so, naming what it offers;
    // a refused token is no wrong password. Other failures are left as they are.
    MailFailure expliquer(const MailFailure &failure, const QString &serveur) const;

private:
    bool m_consulte = false; // vmime read a SASL offer it could use
    std::string m_offre;
    const char *m_choisi = nullptr;
};

// Registers XOAUTH2 and OAUTHBEARER with vmime, once per process.
void enregistrer_mecanismes();

// Why the user name or the token cannot go into a SASL string (a control
// character would end or split it), before anything is sent; nothing when
// they can.
std::optional<QString> refus_caracteres(const std::string &user, const std::string &jeton);

// The service signs in as user with the access token, by SASL only. The
// service must have been made with a JetonAuthenticator.
void configurer(const vmime::shared_ptr<vmime::net::service> &service, const std::string &user,
                const std::string &jeton);

// service->connect(), the authenticator choosing the mechanism from the offer.
void connecter(const vmime::shared_ptr<vmime::net::service> &service,
               JetonAuthenticator &authenticator);

} // namespace vmime_oauth2
