#pragma once

#include <QByteArray>

#include <vmime/net/store.hpp>

// RETR of one message on an open vmime POP3 store, giving the message byte for
// byte as the server holds it: the terminating line removed and dot-stuffing
// undone on every line. vmime's own extract() leaves some stuffed dots in
// place (".." lines, consecutive dotted lines) and drops the last CR LF.
// Throws vmime exceptions like the rest of vmime (timeout, -ERR answer).
QByteArray vmime_pop3_retrieve(const vmime::shared_ptr<vmime::net::store> &store, size_t number);
