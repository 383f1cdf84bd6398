#include "QuitOnSignal.h"

#include <QObject>

#if defined(Q_OS_UNIX)
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalFds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void OnQuitSignal(int signo)
{
    // Only async-signal-safe calls here: restore the default so that a second signal ends
    // the process, and wake the window thread through the socket.
    ::signal(signo, SIG_DFL);
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[0], &byte, 1);
}

} // namespace

void QuitOnSignal(QObject *owner, std::function<void()> closeAll)
{
    if (g_signalFds[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0)
        return;
    for (int fd : g_signalFds)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    auto *notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner,
                     [closeAll = std::move(closeAll)] {
                         char drain[16];
                         while (::read(g_signalFds[1], drain, sizeof drain) > 0) {
                         }
                         closeAll();
                     });

    struct sigaction action
    {
    };
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : kSignals)
        ::sigaction(signo, &action, nullptr);
}

#else

void QuitOnSignal(QObject *, std::function<void()>) {}

#endif
