// Preloaded into the program so that it never sets a clock: clock_settime appends the instant
// asked for and the clock's reading at the call, in milliseconds since 1970, to the file
// $TIDEWELL_CLOCK_SPY, then fails with EPERM as an unprivileged caller's would.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

extern "C" int clock_settime(clockid_t clock, const timespec* asked) {
    const auto ms = [](const timespec& t) {
        return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
    };
    timespec now{};
    ::clock_gettime(clock, &now);
    const char* path = std::getenv("TIDEWELL_CLOCK_SPY");
    if (std::FILE* file = path ? std::fopen(path, "ae") : nullptr) {
        std::fprintf(file, "%lld %lld\n", ms(*asked), ms(now));
        std::fclose(file);
    }
    errno = EPERM;
    return -1;
}
