#pragma once

#include "server/vmime/bounded_mail_reader.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <functional>

// The reader process: a copy of the server made at start-up, before any
// thread exists, that stays idle beside it and forks one bounded child per
// mail. The child reads the archived mail with read_mail_file under its own
// limits of processor time and address space and writes encoder()'s answer to
// a pipe the server gave for that mail; the server keeps the wall-clock
// bound, the size of the answer and its shut-down, and has the child killed
// past them. No exec and no library loading for a mail: a fork of a process
// that has them all already.
//
// The reader holds its standard descriptors (input and output on /dev/null,
// the server's error output) and one socket to the server, nothing else, and
// dies with the server. A reader that died (killed, out of memory) is started
// again by the next request: the server then runs this same program in a
// reader mode, since a fork of a process that has threads cannot safely run
// the mail parser.
namespace lecture_bornee {

// Called at the very top of main(), before any thread and before the
// QCoreApplication: forks the reader. In a process started as the reader it
// serves the server and never returns. A process that never calls it gets a
// reader forked on its first read, after its threads exist: only the tests
// and tools that never poll mail do that.
void demarrer_lecteur();

// Whether the reader is there, started again when it died. panne is the fault
// in words, given once per fault: empty when there is none or when it was
// already given while no reader has worked since. A process that never
// called demarrer_lecteur() has nothing to check.
struct EtatLecteur {
    bool pret = true;
    QString panne;
};
EtatLecteur verifier_lecteur();

// What became of one mail handed to the reader.
struct Issue {
    enum class Fin {
        Terminee,   // the child ended by itself: statut says how, sortie what it wrote
        Depassee,   // killed past the wall clock or the size of its answer
        Annulee,    // killed on the caller's request
        Impossible, // no reader could take it: echec says why
    };
    Fin fin = Fin::Impossible;
    int statut = 0; // as waitpid gives it
    QByteArray sortie;
    QString echec;
    QString panne; // as in EtatLecteur
};

// Blocks until the mail is read or the child killed. annule is asked several
// times a second. One request at a time: concurrent callers wait their turn.
Issue faire_lire(const QString &chemin, const Bornes &bornes, qint64 taille_sortie,
                 const std::function<bool()> &annule);

// For measures and tests: the reader's process id (0 when there is none), and
// the largest resident size, in KiB, that a mail's child reached since the
// last call.
pid_t pid_lecteur();
qint64 pic_memoire_enfants_kio();

} // namespace lecture_bornee
