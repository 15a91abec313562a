#include "server/vmime/vmime_oauth2.h"

#include "server/vmime/sasl_choix.h"

#include <vmime/security/sasl/SASLMechanism.hpp>
#include <vmime/security/sasl/SASLMechanismFactory.hpp>
#include <vmime/security/sasl/SASLSession.hpp>
#include <vmime/security/sasl/XOAuth2SASLMechanism.hpp>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <sstream>

namespace vmime_oauth2 {

namespace {

using vmime::byte_t;
using vmime::security::sasl::SASLContext;
using vmime::security::sasl::SASLMechanism;
using vmime::security::sasl::SASLSession;

const char *const kMecanismes[] = {"XOAUTH2", "OAUTHBEARER"};

void copie(const byte_t *input, size_t inputLen, byte_t **output, size_t *outputLen)
{
    *output = new byte_t[inputLen > 0 ? inputLen : 1];
    if (inputLen > 0)
        std::memcpy(*output, input, inputLen);
    *outputLen = inputLen;
}

// RFC 7628 over RFC 5801's GS2 header: "n,a=USER,^Aauth=Bearer TOKEN^A^A".
std::string reponse_oauthbearer(const std::string &user, const std::string &jeton)
{
    std::string nom;
    for (const char c : user) {
        if (c == ',')
            nom += "=2C";
        else if (c == '=')
            nom += "=3D";
        else
            nom += c;
    }
    return "n," + (nom.empty() ? std::string() : "a=" + nom) + ",\x01" + "auth=Bearer " + jeton +
           "\x01\x01";
}

// A failed sign-in brings a JSON challenge, answered by a lone ^A so that the
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
            text = reponse_oauthbearer(auth->getUsername(), auth->getAccessToken());
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

bool controle(char c)
{
    const auto octet = static_cast<unsigned char>(c);
    return octet < 0x20 || octet == 0x7F;
}

} // namespace

const std::vector<vmime::shared_ptr<SASLMechanism>> JetonAuthenticator::getAcceptableMechanisms(
    const std::vector<vmime::shared_ptr<SASLMechanism>> &available,
    vmime::shared_ptr<SASLMechanism>) const
{
    for (const char *name : kMecanismes) {
        const auto found =
            std::find_if(available.begin(), available.end(),
                         [name](const auto &mechanism) { return mechanism->getName() == name; });
        if (found != available.end())
            return {*found};
    }
    return {};
}

const char *JetonAuthenticator::choisir(const std::string &offre)
{
    m_consulte = true;
    m_offre = offre;
    m_choisi = nullptr;
    for (const char *name : kMecanismes) {
        std::istringstream mots(offre);
        std::string mot;
        while (!m_choisi && mots >> mot)
            if (mot == name)
                m_choisi = name;
    }
    return m_choisi;
}

MailFailure JetonAuthenticator::expliquer(const MailFailure &failure, const QString &serveur) const
{
    if (failure.number != MailError::AuthenticationFailed)
        return failure;
    if (m_choisi)
        return {MailError::AuthenticationFailed,
                QStringLiteral("Authentification refusée : le serveur %1 n'a pas accepté le jeton "
                               "d'accès (%2)")
                    .arg(serveur, QLatin1String(m_choisi))};
    const QString debut = QStringLiteral("Le serveur %1 ne prend pas la connexion par jeton "
                                         "OAuth 2.0 (ni XOAUTH2 ni OAUTHBEARER) : ")
                              .arg(serveur);
    const QString offre = QString::fromStdString(m_offre).simplified();
    return {MailError::AuthenticationUnavailable,
            debut + (offre.isEmpty() ? QStringLiteral("il ne propose aucune connexion SASL connue")
                                     : QStringLiteral("il propose ") + offre)};
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

std::optional<QString> refus_caracteres(const std::string &user, const std::string &jeton)
{
    if (std::any_of(user.begin(), user.end(), controle))
        return QStringLiteral("Le nom d'utilisateur contient un caractère de contrôle : "
                              "la connexion par jeton n'est pas tentée");
    if (std::any_of(jeton.begin(), jeton.end(), controle))
        return QStringLiteral("Le jeton d'accès contient un caractère de contrôle : la connexion "
                              "par jeton n'est pas tentée");
    return std::nullopt;
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

void connecter(const vmime::shared_ptr<vmime::net::service> &service,
               JetonAuthenticator &authenticator)
{
    const ChoixSasl choix(
        [&authenticator](const std::string &offre) { return authenticator.choisir(offre); });
    service->connect();
}

} // namespace vmime_oauth2
