#include "server/vmime/tls_verifier.h"

#include <QFile>

#include <vmime/security/cert/X509Certificate.hpp>
#include <vmime/security/cert/certificateChain.hpp>

#include <memory>
#include <mutex>
#include <vector>

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

namespace {

struct TrustListDeleter {
    void operator()(gnutls_x509_trust_list_st *list) const
    {
        gnutls_x509_trust_list_deinit(list, 1);
    }
};
using TrustList = std::unique_ptr<gnutls_x509_trust_list_st, TrustListDeleter>;

// The system's trust store alone, read once: parsing its 140-odd certificates
// costs tens of milliseconds. Verifying only reads a trust list, so the
// threads of both components share it, as TLS sessions share credentials.
gnutls_x509_trust_list_t systemTrust()
{
    static std::once_flag once;
    static gnutls_x509_trust_list_t list = nullptr;
    std::call_once(once, [] {
        if (gnutls_x509_trust_list_init(&list, 0) >= 0)
            gnutls_x509_trust_list_add_system_trust(list, 0, 0);
    });
    return list;
}

// The certificates the server sent, in its order, owned here.
class PeerCertificates
{
public:
    PeerCertificates() = default;
    PeerCertificates(const PeerCertificates &) = delete;
    PeerCertificates &operator=(const PeerCertificates &) = delete;
    ~PeerCertificates()
    {
        for (gnutls_x509_crt_t certificate : m_list)
            gnutls_x509_crt_deinit(certificate);
    }

    // False when one is not an X.509 certificate GnuTLS can read.
    bool add(const QByteArray &der)
    {
        gnutls_x509_crt_t certificate = nullptr;
        if (gnutls_x509_crt_init(&certificate) < 0)
            return false;
        const gnutls_datum_t data{
            reinterpret_cast<unsigned char *>(const_cast<char *>(der.constData())),
            static_cast<unsigned int>(der.size())};
        if (gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_DER) < 0) {
            gnutls_x509_crt_deinit(certificate);
            return false;
        }
        m_list.push_back(certificate);
        return true;
    }

    gnutls_x509_crt_t *data() { return m_list.data(); }
    unsigned int size() const { return static_cast<unsigned int>(m_list.size()); }

private:
    std::vector<gnutls_x509_crt_t> m_list;
};

// GnuTLS's own words for what failed, e.g. "The certificate is NOT trusted.
// The certificate issuer is unknown."
QString statusText(unsigned int status)
{
    gnutls_datum_t text{nullptr, 0};
    if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text, 0) < 0)
        return QStringLiteral("code %1").arg(status);
    const QString reason = QString::fromUtf8(reinterpret_cast<const char *>(text.data),
                                             static_cast<qsizetype>(text.size))
                               .trimmed();
    gnutls_free(text.data);
    return reason;
}

QString gnutlsText(int error) { return QString::fromUtf8(gnutls_strerror(error)); }

} // namespace

TlsVerifier::TlsVerifier(QStringList caFiles, std::function<void()> onRefusal)
    : m_caFiles(std::move(caFiles)), m_onRefusal(std::move(onRefusal))
{
}

void TlsVerifier::refuse(const QString &host, const QString &reason)
{
    if (m_onRefusal)
        m_onRefusal();
    throw CertificateRefused(host, reason);
}

void TlsVerifier::verify(vmime::shared_ptr<vmime::security::cert::certificateChain> chain,
                         const vmime::string &hostname)
{
    const QString host = QString::fromStdString(hostname);
    QList<QByteArray> der;
    for (size_t i = 0; chain && i < chain->getCount(); ++i) {
        const auto x509 =
            vmime::dynamicCast<vmime::security::cert::X509Certificate>(chain->getAt(i));
        if (!x509)
            refuse(host, QStringLiteral("certificat %1 illisible (pas un X.509)").arg(i));
        const vmime::byteArray bytes = x509->getEncoded();
        der.append(QByteArray(reinterpret_cast<const char *>(bytes.data()),
                              static_cast<qsizetype>(bytes.size())));
    }
    if (const QString reason = checkDer(der, host, m_caFiles); !reason.isEmpty())
        refuse(host, reason);
}

QString TlsVerifier::checkDer(const QList<QByteArray> &chain, const QString &hostname,
                              const QStringList &caFiles)
{
    if (chain.isEmpty())
        return QStringLiteral("le serveur n'a présenté aucun certificat");

    PeerCertificates peer;
    for (qsizetype i = 0; i < chain.size(); ++i) {
        if (!peer.add(chain.at(i)))
            return QStringLiteral("certificat %1 illisible (pas un X.509)").arg(i);
    }

    // Files of our own make a list of its own; an empty store or unreadable
    // files only mean that nothing verifies, which the refusal then says.
    gnutls_x509_trust_list_t trust = systemTrust();
    TrustList own;
    if (!caFiles.isEmpty()) {
        gnutls_x509_trust_list_t raw = nullptr;
        if (const int error = gnutls_x509_trust_list_init(&raw, 0); error < 0)
            return gnutlsText(error);
        own.reset(raw);
        gnutls_x509_trust_list_add_system_trust(raw, 0, 0);
        for (const QString &file : caFiles)
            gnutls_x509_trust_list_add_trust_file(raw, QFile::encodeName(file).constData(), nullptr,
                                                  GNUTLS_X509_FMT_PEM, 0, 0);
        trust = raw;
    }
    if (!trust)
        return QStringLiteral("aucune liste de certificats de confiance");

    // The name is that of the server setting: an address when it was given
    // as one, to be found among the certificate's IP addresses.
    const QByteArray name = hostname.toUtf8();
    unsigned char address[16];
    gnutls_typed_vdata_st data[2] = {};
    if (::inet_pton(AF_INET, name.constData(), address) == 1) {
        data[0] = {GNUTLS_DT_IP_ADDRESS, address, 4};
    } else if (::inet_pton(AF_INET6, name.constData(), address) == 1) {
        data[0] = {GNUTLS_DT_IP_ADDRESS, address, 16};
    } else {
        data[0] = {GNUTLS_DT_DNS_HOSTNAME,
                   reinterpret_cast<unsigned char *>(const_cast<char *>(name.constData())), 0};
    }
    data[1] = {GNUTLS_DT_KEY_PURPOSE_OID,
               reinterpret_cast<unsigned char *>(const_cast<char *>(GNUTLS_KP_TLS_WWW_SERVER)), 0};

    unsigned int status = 0;
    if (const int error = gnutls_x509_trust_list_verify_crt2(trust, peer.data(), peer.size(), data,
                                                             2, 0, &status, nullptr);
        error < 0)
        return gnutlsText(error);
    if (status != 0)
        return statusText(status);
    return {};
}

CertificateRefused::CertificateRefused(const QString &host, const QString &reason)
    : certificateException(reason.toStdString()), m_host(host), m_reason(reason)
{
}

CertificateRefused::~CertificateRefused() noexcept = default;

vmime::exception *CertificateRefused::clone() const { return new CertificateRefused(*this); }

const char *CertificateRefused::name() const noexcept { return "CertificateRefused"; }
