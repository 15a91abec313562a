#pragma once

#include "server/mail/pop3_message.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Reads a fetched mail in a child process of the reader (lecteur_borne.h),
// under bounds no input can outrun: processor time and address space limited
// by the kernel, a wall-clock delay past which the child is killed. A mail the
// parser cannot finish within them is set aside, as if it were beyond the
// reader's limits, and the next mail of the box is read as usual.
//
// The child holds no descriptor but its standard ones (on /dev/null) and the
// pipe of its answer, and dies with the reader, which dies with the server.
namespace lecture_bornee {

// AddressSanitizer reserves terabytes of address space for its shadow memory
// at start-up: a build with it cannot bound the reader's address space, only
// its processor time and its wall-clock time.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool kMemoireBornee = false;
#else
inline constexpr bool kMemoireBornee = true;
#endif

struct Bornes {
    int secondes_cpu = 10;
    int delai_ms = 20000;
    qint64 memoire = 1024LL * 1024 * 1024; // octets of address space
};

struct Resultat {
    // The mail as read_mail_file gives it, or, past the bounds, what its
    // header block alone says, marked illisible.
    std::optional<Pop3Message> mail;
    // Why there is no mail: no reader could run, the file could not be read.
    QString echec;
    // A fault of the reader itself (it died and was started again, or none
    // can be started), in words, given once per fault: the server reports it.
    QString panne;
};

// Blocks until the child is done: call it off the window's thread. annule is
// asked several times a second; when it answers true the child is killed.
Resultat lire(const QString &chemin, const Bornes &bornes,
              const std::function<bool()> &annule = {});

// A mail set aside unread: what its header block says, marked illisible with raison.
Pop3Message mis_de_cote(const QString &chemin, const QString &raison);

// The child's answer on its standard output: one line per field, "name value"
// with the value percent-encoded, between a first and a last line that tell a
// whole answer from a cut one.
QByteArray encoder(const Pop3Message &mail);
std::optional<Pop3Message> decoder(const QByteArray &sortie);
// The answer has its last line: nothing was cut from it.
bool reponse_entiere(const QByteArray &sortie);

} // namespace lecture_bornee
