#include "app/linux/realtime_linux.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <fstream>
#include <sstream>
#include <string>

namespace tidewell {
namespace {

constexpr int kCapIpcLock = 14;

bool hasEffectiveCapability(int capability) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("CapEff:", 0) == 0) {
            unsigned long long mask = 0;
            std::istringstream(line.substr(7)) >> std::hex >> mask;
            return (mask >> capability) & 1;
        }
    return false;
}

// Under a finite RLIMIT_MEMLOCK, MCL_FUTURE would make allocations past the limit fail.
// MCL_ONFAULT locks pages as they are touched, so idle thread stacks and unused library pages
// do not become resident.
bool lockMemory() {
    rlimit limit{};
    const bool unlimited =
        ::getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
    if (!unlimited && !hasEffectiveCapability(kCapIpcLock)) return false;
    return ::mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) == 0;
}

}  // namespace

std::string raiseLoopPriority() {
    sched_param param{};
    param.sched_priority = kLoopPriority;
    if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) != 0)
        return "priority: normal (no right to real-time scheduling)";
    const std::string granted = "priority: real-time (SCHED_FIFO " + std::to_string(kLoopPriority);
    return granted + (lockMemory() ? ", memory locked)" : ", memory not locked: no right)");
}

}  // namespace tidewell
