#pragma once

#include <functional>
#include <string>

// A mail server reached in plain text on a port that speaks TLS from the
// first byte (995, 465) says nothing: it waits for the client's TLS hello,
// while the client waits for a greeting, until the time-out says "the server
// did not answer". The probe asks a second connection to the same address and
// port for a TLS hello; a port that answers with a TLS record expects TLS.
namespace tls_probe {

// The first bytes of a TLS record (a handshake or an alert), as a port that
// expects TLS sends them to whatever it got instead of a hello.
bool looks_like_tls(const unsigned char *bytes, std::size_t size);

// Connects to address:port (numeric), sends a TLS 1.2 ClientHello and waits
// at most waitMs in all for the first bytes of the answer: true when they are
// a TLS record. Any failure counts as no: the probe only ever adds a cause.
// stop is asked between short waits: a call cancelled or timed out ends it.
bool expects_tls(const std::string &address, unsigned short port, int waitMs,
                 const std::function<bool()> &stop);

} // namespace tls_probe
