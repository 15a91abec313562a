#include "platform/shell_launch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <shellapi.h>
#else
#include <cerrno>
#include <fcntl.h>
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

#endif

} // namespace platform
