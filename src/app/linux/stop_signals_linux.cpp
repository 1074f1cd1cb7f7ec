#include "app/linux/stop_signals_linux.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <initializer_list>

namespace tidewell {

namespace {
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction inherited {};
        if (::sigaction(s, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
        sigaddset(&set, s);
    }
    return set;
}
}  // namespace

void takeStopSignals() {
    const sigset_t set = stopSignals();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

int openStopSignals() {
    const sigset_t set = stopSignals();
    return ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

bool takeStopSignal(int fd) {
    signalfd_siginfo info{};
    return ::read(fd, &info, sizeof info) == sizeof info;
}

}  // namespace tidewell
