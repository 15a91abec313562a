#pragma once

#include <QString>

#include <QtGlobal>

#include <functional>
#include <optional>

namespace platform {

// Results of ShellExecute, as the Windows shell gives them: above 32 is success.
inline constexpr qint32 kShellOk = 42;
inline constexpr qint32 kShellFileNotFound = 2;
inline constexpr qint32 kShellPathNotFound = 3;
inline constexpr qint32 kShellAccessDenied = 5;
inline constexpr qint32 kShellOutOfResources = 0;

// Opens a file with its default action, with directory as working directory, and
// returns at once; the action runs on its own. On POSIX the file is a batch file
// run by /bin/sh, detached in a session of its own so that it outlives the
// server and leaves no zombie behind; it inherits no descriptor of the server
// but standard input, output and error, all three on /dev/null.
qint32 ShellExecute(const QString &file, const QString &directory);

// A batch file the server started as its own child and follows to its end.
struct LancementSuivi {
    qint32 resultat = kShellOutOfResources; // as ShellExecute answers
    qint64 pid = 0;                         // its process group and session too; 0: not started
    int pidfd = -1; // close-on-exec, readable once it has ended; -1 where the kernel has none
};

// Starts the batch file as ShellExecute does (/bin/sh, in directory, standard
// input on /dev/null, no other descriptor of the server, signals as a fresh
// program has them), but as a child of the server, in a session and process
// group of its own, its output and errors going to the descriptor sortie
// (/dev/null when -1). It is
// not waited for, and outlives the server. avant(pid) runs once the child
// exists and before anything of the batch file runs: what must be on disk
// before the launch is written there.
LancementSuivi lance_suivi(const QString &file, const QString &directory, int sortie,
                           const std::function<void(qint64 pid)> &avant);

// How a child started by lance_suivi ended: its exit code, or the signal that
// stopped it; unknown when something else reaped it.
struct FinProcessus {
    bool signal = false;
    int valeur = 0;
    bool inconnue = false;
};
// The end of that child, which is reaped; none while it still runs.
std::optional<FinProcessus> fin_processus(qint64 pid);

// Sends the signal to every process of the group; false when none is left.
bool signale_groupe(qint64 pgid, int signal);

// When the process started, as the kernel counts: tells a process from a later
// one given the same number. Empty when no such process runs.
QString debut_processus(qint64 pid);

// A new file for a batch file's output, readable and writable by its owner
// only, opened for appending, close-on-exec; -1 when it exists or cannot be made.
int cree_sortie(const QString &path);
void ferme_sortie(int fd);

} // namespace platform
