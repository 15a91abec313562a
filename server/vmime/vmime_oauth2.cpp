#include "server/vmime/vmime_oauth2.h"

#include <vmime/security/sasl/SASLMechanism.hpp>
#include <vmime/security/sasl/SASLMechanismFactory.hpp>
#include <vmime/security/sasl/SASLSession.hpp>
#include <vmime/security/sasl/XOAuth2SASLMechanism.hpp>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vmime_oauth2 {

namespace {

using vmime::byte_t;
using vmime::security::sasl::SASLContext;
using vmime::security::sasl::SASLMechanism;
using vmime::security::sasl::SASLSession;

void copie(const byte_t *input, size_t inputLen, byte_t **output, size_t *outputLen)
{
    *output = new byte_t[inputLen > 0 ? inputLen : 1];
    if (inputLen > 0)
        std::memcpy(*output, input, inputLen);
    *outputLen = inputLen;
}

// RFC 7628: "n,a=USER,^Aauth=Bearer TOKEN^A^A" as the initial response. A
// failed sign-in brings a JSON challenge, answered by a lone ^A so that the
// server ends the exchange with its error.
class OAuthBearerMechanism : public SASLMechanism
{
public:
    OAuthBearerMechanism(const vmime::shared_ptr<SASLContext> &, const vmime::string &) {}

    const vmime::string getName() const override { return "OAUTHBEARER"; }

    bool step(vmime::shared_ptr<SASLSession> sess, const byte_t *, const size_t, byte_t **response,
              size_t *responseLen) override
    {
        std::string text = "\x01";
        if (!m_envoye) {
            const auto auth = sess->getAuthenticator();
            text = "n,a=" + auth->getUsername() + ",\x01" + "auth=Bearer " +
                   auth->getAccessToken() + "\x01\x01";
            m_envoye = true;
        }
        copie(reinterpret_cast<const byte_t *>(text.data()), text.size(), response, responseLen);
        m_complet = true;
        return true;
    }

    bool isComplete() const override { return m_complet; }
    bool hasInitialResponse() const override { return true; }

    void encode(vmime::shared_ptr<SASLSession>, const byte_t *input, const size_t inputLen,
                byte_t **output, size_t *outputLen) override
    {
        copie(input, inputLen, output, outputLen);
    }
    void decode(vmime::shared_ptr<SASLSession>, const byte_t *input, const size_t inputLen,
                byte_t **output, size_t *outputLen) override
    {
        copie(input, inputLen, output, outputLen);
    }

private:
    bool m_envoye = false;
    bool m_complet = false;
};

} // namespace

const std::vector<vmime::shared_ptr<SASLMechanism>> JetonAuthenticator::getAcceptableMechanisms(
    const std::vector<vmime::shared_ptr<SASLMechanism>> &available,
    vmime::shared_ptr<SASLMechanism>) const
{
    for (const char *name : {"XOAUTH2", "OAUTHBEARER"}) {
        const auto found =
            std::find_if(available.begin(), available.end(),
                         [name](const auto &mechanism) { return mechanism->getName() == name; });
        if (found != available.end())
            return {*found};
    }
    return {};
}

void enregistrer_mecanismes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        auto *factory = vmime::security::sasl::SASLMechanismFactory::getInstance();
        // vmime has the XOAUTH2 mechanism but does not offer it unless asked.
        if (!factory->isMechanismSupported("XOAUTH2"))
            factory->registerMechanism<vmime::security::sasl::XOAuth2SASLMechanism>("XOAUTH2");
        if (!factory->isMechanismSupported("OAUTHBEARER"))
            factory->registerMechanism<OAuthBearerMechanism>("OAUTHBEARER");
    });
}

void configurer(const vmime::shared_ptr<vmime::net::service> &service, const std::string &user,
                const std::string &jeton)
{
    enregistrer_mecanismes();
    service->setProperty("options.sasl", true);
    service->setProperty("options.sasl.fallback", false);
    service->setProperty("options.apop", false);
    service->setProperty("options.need-authentication", true);
    service->setProperty("auth.username", user);
    service->setProperty("auth.accesstoken", jeton);
}

} // namespace vmime_oauth2
