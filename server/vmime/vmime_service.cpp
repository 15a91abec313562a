#include "server/vmime/vmime_service.h"

#include "server/vmime/vmime_socket.h"
#include "server/vmime/vmime_timeout.h"

#include <QFile>

#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/security/cert/X509Certificate.hpp>
#include <vmime/security/cert/defaultCertificateVerifier.hpp>
#include <vmime/vmime.hpp>

#include <mutex>
#include <vector>

namespace {

using CertificateList = std::vector<vmime::shared_ptr<vmime::security::cert::X509Certificate>>;

const char kSystemStore[] = "/etc/ssl/certs/ca-certificates.crt";

// vmime imports one certificate at a time; a bundle holds many.
CertificateList readPemBundle(const QString &path)
{
    CertificateList certificates;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return certificates;
    const QByteArray data = file.readAll();
    static const QByteArray begin("-----BEGIN CERTIFICATE-----");
    static const QByteArray end("-----END CERTIFICATE-----");
    qsizetype from = 0;
    while ((from = data.indexOf(begin, from)) >= 0) {
        const qsizetype to = data.indexOf(end, from);
        if (to < 0)
            break;
        const QByteArray pem = data.mid(from, to + end.size() - from);
        try {
            if (auto certificate = vmime::security::cert::X509Certificate::import(
                    reinterpret_cast<const vmime::byte_t *>(pem.constData()),
                    static_cast<size_t>(pem.size())))
                certificates.push_back(certificate);
        } catch (const std::exception &) {
            // One unreadable entry must not cost the others.
        }
        from = to + end.size();
    }
    return certificates;
}

// Read once: the system bundle holds well over a hundred certificates.
const CertificateList &systemCertificates()
{
    static std::once_flag once;
    static CertificateList certificates;
    std::call_once(once, [] { certificates = readPemBundle(QString::fromLatin1(kSystemStore)); });
    return certificates;
}

// vmime asks the system for this host's name at every SMTP greeting (EHLO),
// through the resolver; the name does not change while the server runs.
class HostNameOnce : public vmime::platforms::posix::posixHandler
{
public:
    const vmime::string getHostName() const override
    {
        std::call_once(m_once, [this] { m_name = posixHandler::getHostName(); });
        return m_name;
    }

private:
    mutable std::once_flag m_once;
    mutable vmime::string m_name;
};

} // namespace

void install_vmime_platform()
{
    static std::once_flag once;
    std::call_once(once, [] { vmime::platform::setHandler<HostNameOnce>(); });
}

vmime::string vmime_protocol(const ServerAddress &address)
{
    const bool tls = address.security() == ServerAddress::Security::Tls;
    if (address.protocol() == ServerAddress::Protocol::Pop3)
        return tls ? "pop3s" : "pop3";
    return tls ? "smtps" : "smtp";
}

vmime::utility::url vmime_url(const ServerAddress &address)
{
    return vmime::utility::url(vmime_protocol(address), address.host().toStdString(),
                               address.port());
}

void configure_vmime_service(const vmime::shared_ptr<vmime::net::service> &service,
                             const ServerAddress &address, const VmimeServiceOptions &options)
{
    service->setProperty("server.address", address.host().toStdString());
    service->setProperty("server.port", static_cast<vmime::port_t>(address.port()));
    const bool startTls = address.security() == ServerAddress::Security::StartTls;
    service->setProperty("connection.tls", startTls);
    service->setProperty("connection.tls.required", startTls);

    // Every socket sets TCP_NODELAY (see VmimeSocket); a guarded one also bounds
    // what one answer may bring and gives up when the call is cancelled.
    if (options.guard) {
        const std::shared_ptr<SocketGuard> guard = options.guard;
        service->setTimeoutHandlerFactory(vmime::make_shared<VmimeTimeout>(
            options.timeoutMs, [guard] { return guard->cancelled(); }));
        service->setSocketFactory(vmime::make_shared<GuardedSocketFactory>(guard));
    } else {
        service->setTimeoutHandlerFactory(vmime::make_shared<VmimeTimeout>(options.timeoutMs));
        service->setSocketFactory(vmime::make_shared<VmimeSocketFactory>());
    }
    if (options.tracer)
        service->setTracerFactory(options.tracer);

    // Certificates matter to TLS only; the trust store is a long list to copy.
    if (address.security() == ServerAddress::Security::Plain)
        return;
    CertificateList roots = systemCertificates();
    for (const QString &file : options.trustedCaFiles) {
        const CertificateList extra = readPemBundle(file);
        roots.insert(roots.end(), extra.begin(), extra.end());
    }
    auto verifier = vmime::make_shared<vmime::security::cert::defaultCertificateVerifier>();
    verifier->setX509RootCAs(roots);
    service->setCertificateVerifier(verifier);
}
