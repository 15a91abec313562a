#include "platform/shell_launch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <shellapi.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef Q_OS_WIN

qint32 ShellExecute(const QString &file, const QString &directory)
{
    const auto result = reinterpret_cast<qintptr>(
        ShellExecuteW(nullptr, nullptr, reinterpret_cast<const wchar_t *>(file.utf16()), nullptr,
                      reinterpret_cast<const wchar_t *>(directory.utf16()), SW_SHOWNORMAL));
    return qint32(result);
}

// No child to follow there: the batch file is opened as ShellExecute does.
LancementSuivi lance_suivi(const QString &file, const QString &directory, int,
                           const std::function<void(qint64)> &avant)
{
    avant(0);
    LancementSuivi lancement;
    lancement.resultat = ShellExecute(file, directory);
    return lancement;
}

std::optional<FinProcessus> fin_processus(qint64) { return std::nullopt; }
bool signale_groupe(qint64, int) { return false; }
QString debut_processus(qint64) { return {}; }
int cree_sortie(const QString &) { return -1; }
void ferme_sortie(int) {}

#else

namespace {

qint32 fromErrno(int error)
{
    switch (error) {
    case ENOENT:
        return kShellFileNotFound;
    case ENOTDIR:
        return kShellPathNotFound;
    case EACCES:
    case EPERM:
        return kShellAccessDenied;
    default:
        return kShellOutOfResources;
    }
}

// Between fork and exec, in the child of a program with threads: system calls
// only. Closes every descriptor above standard error but the report pipe, which
// closes itself at exec. A kernel without close_range gets them closed one by
// one up to the limit.
void fermer_descripteurs(int garde)
{
    const auto fermer = [](unsigned first, unsigned last) {
        first = first < 3 ? 3 : first;
        if (first > last)
            return;
        if (syscall(SYS_close_range, first, last, 0U) == 0)
            return;
        rlimit limit{};
        const rlim_t end = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                               ? limit.rlim_cur
                               : 65536;
        for (rlim_t fd = first; fd < end && fd <= last; ++fd)
            close(int(fd));
    };
    fermer(3, garde > 3 ? unsigned(garde) - 1 : 0U);
    fermer(unsigned(garde) + 1, ~0U);
}

// Reads the child's report: an errno when it could not exec, nothing when it did.
int lit_rapport(int fd, bool *recu)
{
    int error = 0;
    ssize_t got;
    do {
        got = read(fd, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(fd);
    *recu = got == sizeof error;
    return error;
}

// In the child, before exec: every signal back to its default action and
// none blocked, as a program started afresh has them (an ignored SIGPIPE
// would otherwise reach the batch file).
void signaux_par_defaut()
{
    struct sigaction defaut {
    };
    defaut.sa_handler = SIG_DFL;
    sigemptyset(&defaut.sa_mask);
    for (int s = 1; s < NSIG; ++s) {
        if (s != SIGKILL && s != SIGSTOP)
            sigaction(s, &defaut, nullptr);
    }
    sigset_t aucun;
    sigemptyset(&aucun);
    sigprocmask(SIG_SETMASK, &aucun, nullptr);
}

} // namespace

qint32 ShellExecute(const QString &file, const QString &directory)
{
    if (!QFileInfo(directory).isDir())
        return kShellPathNotFound;
    const QString path = QDir(directory).absoluteFilePath(file);
    const QFileInfo info(path);
    if (!info.isFile())
        return kShellFileNotFound;
    if (!info.isReadable())
        return kShellAccessDenied;

    const QByteArray dir = QFile::encodeName(directory);
    const QByteArray script = QFile::encodeName(path);

    // The grandchild reports a failure before exec through this pipe; a pipe
    // closed by a successful exec says nothing.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return kShellOutOfResources;

    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return kShellOutOfResources;
    }
    if (child == 0) {
        close(report[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild != 0)
            _exit(grandchild < 0 ? 1 : 0);
        int error = 0;
        if (chdir(dir.constData()) != 0) {
            error = errno;
        } else {
            const int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
            if (devnull >= 0) {
                dup2(devnull, 0);
                dup2(devnull, 1);
                dup2(devnull, 2);
            }
            // The batch file gets standard input, output and error, nothing more.
            fermer_descripteurs(report[1]);
            execl("/bin/sh", "sh", script.constData(), static_cast<char *>(nullptr));
            error = errno;
        }
        [[maybe_unused]] const auto written = write(report[1], &error, sizeof error);
        _exit(127);
    }

    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);

    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return kShellOutOfResources;
    if (got == sizeof error)
        return fromErrno(error);
    return kShellOk;
}

LancementSuivi lance_suivi(const QString &file, const QString &directory, int sortie,
                           const std::function<void(qint64 pid)> &avant)
{
    LancementSuivi lancement;
    if (!QFileInfo(directory).isDir()) {
        lancement.resultat = kShellPathNotFound;
        return lancement;
    }
    const QString path = QDir(directory).absoluteFilePath(file);
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        lancement.resultat = info.isFile() ? kShellAccessDenied : kShellFileNotFound;
        return lancement;
    }
    const QByteArray dir = QFile::encodeName(directory);
    const QByteArray script = QFile::encodeName(path);

    // report: an errno from the child when it could not exec; gate: the go
    // the child waits for, given once avant() has recorded it.
    int report[2];
    int gate[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return lancement;
    if (pipe2(gate, O_CLOEXEC) != 0) {
        close(report[0]);
        close(report[1]);
        return lancement;
    }
    // No handler of the server's may run in the child before it resets them.
    sigset_t tous;
    sigset_t avant_fork;
    sigfillset(&tous);
    pthread_sigmask(SIG_SETMASK, &tous, &avant_fork);
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        close(gate[1]);
        setsid();
        char go = 0;
        ssize_t got;
        do {
            got = read(gate[0], &go, 1);
        } while (got < 0 && errno == EINTR);
        if (got != 1)
            _exit(127); // the server went before it could record the launch
        signaux_par_defaut();
        int error = 0;
        if (chdir(dir.constData()) != 0) {
            error = errno;
        } else {
            const int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
            if (devnull >= 0)
                dup2(devnull, 0);
            const int vers = sortie >= 0 ? sortie : devnull;
            dup2(vers, 1);
            dup2(vers, 2);
            fermer_descripteurs(report[1]);
            execl("/bin/sh", "sh", script.constData(), static_cast<char *>(nullptr));
            error = errno;
        }
        [[maybe_unused]] const auto written = write(report[1], &error, sizeof error);
        _exit(127);
    }
    pthread_sigmask(SIG_SETMASK, &avant_fork, nullptr);
    close(report[1]);
    close(gate[0]);
    if (child < 0) {
        close(report[0]);
        close(gate[1]);
        return lancement;
    }

    avant(child);
    const char go = 1;
    [[maybe_unused]] const auto given = write(gate[1], &go, 1);
    close(gate[1]);
    bool recu = false;
    const int error = lit_rapport(report[0], &recu);
    if (recu) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        lancement.resultat = fromErrno(error);
        return lancement;
    }
    lancement.resultat = kShellOk;
    lancement.pid = child;
    lancement.pidfd = int(syscall(SYS_pidfd_open, child, 0));
    return lancement;
}

std::optional<FinProcessus> fin_processus(qint64 pid)
{
    siginfo_t info{};
    int r;
    do {
        r = waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r < 0) // not our child, or reaped already: its end is not known
        return FinProcessus{false, 0, true};
    if (info.si_pid == 0)
        return std::nullopt;
    return FinProcessus{info.si_code != CLD_EXITED, info.si_status, false};
}

bool signale_groupe(qint64 pgid, int signal)
{
    return pgid > 1 && ::kill(-pid_t(pgid), signal) == 0;
}

QString debut_processus(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return {};
    // The name in parentheses may hold blanks: fields are counted after it.
    const QByteArray ligne = stat.read(4096);
    const qsizetype fin_nom = ligne.lastIndexOf(')');
    if (fin_nom < 0)
        return {};
    const QList<QByteArray> champs = ligne.mid(fin_nom + 2).split(' ');
    // Field 22, the start time, is the 20th after the name; a zombie has ended.
    if (champs.size() < 20 || champs.at(0) == "Z")
        return {};
    return QString::fromLatin1(champs.at(19));
}

void ferme_sortie(int fd)
{
    if (fd >= 0)
        close(fd);
}

int cree_sortie(const QString &path)
{
    return open(QFile::encodeName(path).constData(),
                O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
}

#endif

} // namespace platform
