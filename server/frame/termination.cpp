#include "server/frame/termination.h"

#include <QObject>
#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

void installer_arret_sur_signal(QObject *, std::function<void()>)
{
    // On Windows the end of a session closes the main window, which shuts down.
}

#else

namespace {
int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = write(g_pipe[1], &byte, 1);
}
} // namespace

void installer_arret_sur_signal(QObject *context, std::function<void()> arret)
{
    // A signal handler may do almost nothing: it only wakes the event loop.
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier, arret] {
        char byte;
        [[maybe_unused]] const auto got = read(g_pipe[0], &byte, 1);
        notifier->setEnabled(false);
        arret();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

#endif
