#include "server/vmime/vmime_service.h"

#include "server/vmime/tls_verifier.h"
#include "server/vmime/vmime_socket.h"
#include "server/vmime/vmime_timeout.h"

#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/vmime.hpp>

#include <mutex>

namespace {

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
    vmime::shared_ptr<vmime::net::socketFactory> sockets;
    if (options.guard) {
        const std::shared_ptr<SocketGuard> guard = options.guard;
        service->setTimeoutHandlerFactory(vmime::make_shared<VmimeTimeout>(
            options.timeoutMs, [guard] { return guard->cancelled(); }));
        sockets = vmime::make_shared<GuardedSocketFactory>(guard);
    } else {
        service->setTimeoutHandlerFactory(vmime::make_shared<VmimeTimeout>(options.timeoutMs));
        sockets = vmime::make_shared<VmimeSocketFactory>();
    }
    if (options.tracer)
        service->setTracerFactory(options.tracer);

    // Certificates matter to TLS only.
    if (address.security() == ServerAddress::Security::Plain) {
        service->setSocketFactory(sockets);
        return;
    }
    // A refused chain closes the connection before vmime can say goodbye.
    const auto closable = vmime::make_shared<ClosableSocketFactory>(sockets);
    service->setSocketFactory(closable);
    service->setCertificateVerifier(vmime::make_shared<TlsVerifier>(
        options.trustedCaFiles, [closable] { closable->closeAll(); }));
}
