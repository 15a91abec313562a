#pragma once

#include "server/vmime/server_address.h"
#include "server/vmime/vmime_guarded_socket.h"

#include <QStringList>

#include <vmime/net/service.hpp>
#include <vmime/net/tracer.hpp>

// How both components set up a vmime service: the address and its TLS rules,
// one timeout for connect and each command, and the certificates trusted.
struct VmimeServiceOptions {
    int timeoutMs = 30000;
    // PEM files of certificates trusted besides the system's trust store
    // (a private CA; the tests' own).
    QStringList trustedCaFiles;
    vmime::shared_ptr<vmime::net::tracerFactory> tracer;
    // When given, the sockets are made under it: cancel and answer bound.
    std::shared_ptr<SocketGuard> guard;
};

// Sets vmime's platform services once per process, before the first
// connection: call it on the main thread, while no mail dialogue runs.
void install_vmime_platform();

// The URL protocol vmime knows for that address: "pop3"/"pop3s", "smtp"/"smtps".
vmime::string vmime_protocol(const ServerAddress &address);
vmime::utility::url vmime_url(const ServerAddress &address);
// Applies the address's TLS rules (STARTTLS required, never a silent fall back
// to plain text), the timeout, the trust store and the tracer.
void configure_vmime_service(const vmime::shared_ptr<vmime::net::service> &service,
                             const ServerAddress &address, const VmimeServiceOptions &options);
