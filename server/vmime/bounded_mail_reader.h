#pragma once

#include "server/mail/pop3_message.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Reads a fetched mail in a child process, tramelon-analyse, under bounds no
// input can outrun: processor time and address space limited by the kernel, a
// wall-clock delay past which the child is killed. A mail the parser cannot
// finish within them is set aside, as if it were beyond the reader's limits,
// and the next mail of the box is read as usual.
//
// The child inherits no descriptor but its standard input (empty), output (the
// result) and error (discarded), and dies with the thread that started it.
namespace lecture_bornee {

struct Bornes {
    int secondes_cpu = 10;
    int delai_ms = 20000;
    qint64 memoire = 1024LL * 1024 * 1024; // octets of address space
};

struct Resultat {
    // The mail as read_mail_file gives it, or, past the bounds, what its
    // header block alone says, marked illisible.
    std::optional<Pop3Message> mail;
    // Why there is no mail: the helper could not run, the file could not be read.
    QString echec;
};

// The helper beside the running program.
QString programme_par_defaut();

// Blocks until the child is done: call it off the window's thread. annule is
// asked several times a second; when it answers true the child is killed.
Resultat lire(const QString &programme, const QString &chemin, const Bornes &bornes,
              const std::function<bool()> &annule = {});

// A mail set aside unread: what its header block says, marked illisible with raison.
Pop3Message mis_de_cote(const QString &chemin, const QString &raison);

// The child's answer on its standard output: one line per field, "name value"
// with the value percent-encoded, between a first and a last line that tell a
// whole answer from a cut one.
QByteArray encoder(const Pop3Message &mail);
std::optional<Pop3Message> decoder(const QByteArray &sortie);

} // namespace lecture_bornee
