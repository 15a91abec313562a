#pragma once

#include <string>

#include <vmime/net/service.hpp>
#include <vmime/security/sasl/defaultSASLAuthenticator.hpp>

// Signing in with an OAuth 2.0 access token: SASL XOAUTH2, which vmime knows,
// and OAUTHBEARER (RFC 7628), which it does not, both registered here.
namespace vmime_oauth2 {

// Takes XOAUTH2 when the server offers it, else OAUTHBEARER; never a password
// mechanism, so a server that offers neither fails the sign-in. vmime 0.9.2's
// SMTP sign-in also wants one mechanism its SASL library knows in the offer
// (PLAIN, LOGIN...), as the providers' servers all make: an SMTP server that
// offers XOAUTH2 alone is refused before AUTH.
class JetonAuthenticator : public vmime::security::sasl::defaultSASLAuthenticator
{
public:
    const std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>>
    getAcceptableMechanisms(
        const std::vector<vmime::shared_ptr<vmime::security::sasl::SASLMechanism>> &available,
        vmime::shared_ptr<vmime::security::sasl::SASLMechanism> suggested) const override;
};

// Registers XOAUTH2 and OAUTHBEARER with vmime, once per process.
void enregistrer_mecanismes();

// The service signs in as user with the access token, by SASL only. The
// service must have been made with a JetonAuthenticator.
void configurer(const vmime::shared_ptr<vmime::net::service> &service, const std::string &user,
                const std::string &jeton);

} // namespace vmime_oauth2
