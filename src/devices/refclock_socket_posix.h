#pragma once
// chrony's SOCK reference clock over a Unix datagram socket of our own, unbound: each sample
// is addressed to the path afresh, so a chronyd that restarts (and makes its socket anew) gets
// the next one.
#include "devices/refclock_socket.h"

namespace tidewell {

class PosixRefclockSocket : public RefclockSocket {
public:
    PosixRefclockSocket() = default;
    ~PosixRefclockSocket() override;
    PosixRefclockSocket(const PosixRefclockSocket&) = delete;
    PosixRefclockSocket& operator=(const PosixRefclockSocket&) = delete;

    // Errors carry errno's words and what they mean here: "Sending to chrony's socket
    // /run/chrony.tidewell.sock: No such file or directory (chronyd is not running, or has no
    // refclock SOCK line for it)".
    void check() override;
    void send(const RefclockSample& sample) override;

private:
    int fd_ = -1;
};

}  // namespace tidewell
