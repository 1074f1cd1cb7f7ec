#pragma once
// chrony's SOCK reference clock: chronyd creates a Unix datagram socket and reads one sample
// from each datagram sent to it. Linux only; Windows has no chrony.
#include <chrono>
#include <string>

namespace tidewell {

// What one sample says: at `pcTime` on the PC clock the true time was `pcTime + offset`.
struct RefclockSample {
    std::chrono::sys_time<std::chrono::microseconds> pcTime;
    double offset = 0;  // seconds, positive when the PC clock is behind
};

class RefclockSocket {
public:
    virtual ~RefclockSocket() = default;

    // The socket's full path, as chrony's `refclock SOCK` line names it.
    std::string Path;

    // Reaches the socket without sending anything. Throws Error with the reason (no such
    // file: chrony is not running or has no such refclock line; refused: left by a chronyd
    // that has stopped; permission denied).
    virtual void check() = 0;
    // Sends one sample in chrony's layout, never waiting: a sample that cannot go at once is
    // lost. Throws Error as check() does.
    virtual void send(const RefclockSample& sample) = 0;
};

}  // namespace tidewell
