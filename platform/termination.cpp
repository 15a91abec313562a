#include "platform/termination.h"

#include <QObject>
#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <semaphore.h>
#include <sys/socket.h>
#include <thread>
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
sem_t g_requested;
std::mutex g_mutex;
std::condition_variable g_done;
bool g_arretFini = false;

// Whatever the window's thread is busy with, the program is gone this long
// after the request. The key file is rewritten by rename, so an end in the
// middle leaves the previous file whole.
constexpr std::chrono::milliseconds kDelaiArret{1700};
constexpr int kSortieArretForce = 128 + SIGTERM;

extern "C" void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = write(g_pipe[1], &byte, 1);
    sem_post(&g_requested);
}

// Ends the program when the shut-down has not returned in time (it normally
// ends the program itself).
void startBackstop()
{
    static std::once_flag once;
    std::call_once(once, [] {
        sem_init(&g_requested, 0, 0);
        std::thread([] {
            while (sem_wait(&g_requested) != 0) {
            }
            std::unique_lock lock(g_mutex);
            if (!g_done.wait_for(lock, kDelaiArret, [] { return g_arretFini; }))
                _exit(kSortieArretForce);
        }).detach();
    });
}

void arretFini()
{
    {
        std::lock_guard lock(g_mutex);
        g_arretFini = true;
    }
    g_done.notify_all();
}
} // namespace

void installer_arret_sur_signal(QObject *context, std::function<void()> arret)
{
    // A signal handler may do almost nothing: it only wakes the event loop. A
    // batch file must not hold these: a byte written to either end stops the server.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier, arret] {
        char byte;
        [[maybe_unused]] const auto got = read(g_pipe[0], &byte, 1);
        notifier->setEnabled(false);
        arret();
        arretFini();
    });
    startBackstop();
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

#endif
