#pragma once
// A timer locked to the PC clock's whole seconds: a timerfd on the realtime clock that expires
// on every period boundary (the period divides a second, or is one), so a tick comes right at
// each second boundary. When the clock is stepped the kernel cancels it and the phase is
// locked again at once. Both Linux event loops watch its descriptor.
namespace tidewell {

class PhaseLockedTimer {
public:
    // Throws std::runtime_error with the system's words when the timer cannot be made.
    explicit PhaseLockedTimer(int periodMs);
    ~PhaseLockedTimer();
    PhaseLockedTimer(const PhaseLockedTimer&) = delete;
    PhaseLockedTimer& operator=(const PhaseLockedTimer&) = delete;

    // Readable when a boundary has passed or the clock was stepped.
    int fd() const { return fd_; }
    // Takes what made the descriptor readable; true when a tick is due: one for any number of
    // boundaries missed (a busy machine), and one at once after a step of the clock.
    bool expired();

private:
    void arm();

    int fd_ = -1;
    long periodNs_;
};

}  // namespace tidewell
