#pragma once

#include <QtGlobal>

#include <vmime/net/store.hpp>

class QIODevice;
class SocketGuard;

// RETR of one message on an open vmime POP3 store, writing the message byte for
// byte as the server holds it to out as it arrives: the terminating line
// removed and dot-stuffing undone on every line. vmime's own extract() leaves
// some stuffed dots in place (".." lines, consecutive dotted lines), drops the
// last CR LF and keeps the whole message in memory. Returns the octets written.
// Throws vmime exceptions like the rest of vmime (timeout, -ERR answer); a
// message beyond maxSize or a failed write fails through the guard.
qint64 vmime_pop3_retrieve(const vmime::shared_ptr<vmime::net::store> &store, size_t number,
                           QIODevice &out, qint64 maxSize, SocketGuard &guard);
