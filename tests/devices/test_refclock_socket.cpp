// Samples to a socket bound where chronyd would bind its own: chrony's layout and values, and
// why a socket cannot be reached, without ever waiting.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "devices/refclock_socket_posix.h"
#include "platform/error.h"

namespace tidewell {
namespace {

using namespace std::chrono;

TEST(PosixRefclockSocket, SendsChronysLayoutAndTellsWhyItCannot) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tidewell-sock-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    PosixRefclockSocket socket;
    socket.Path = (dir / "chrony.sock").string();
    const auto why = [&](auto call) {
        try {
            call();
        } catch (const Error& e) {
            const std::string d = e.description();  // after the operation and the path
            return d.substr(d.find(socket.Path) + socket.Path.size());
        }
        return std::string("no error");
    };
    const auto chronyd = [&] {  // binds as chronyd does
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{AF_UNIX, {}};
        std::strcpy(address.sun_path, socket.Path.c_str());
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    };
    EXPECT_EQ(why([&] { socket.check(); }), ": No such file or directory (chronyd is not running, "
                                            "or has no refclock SOCK line for it)");
    ::close(chronyd());
    EXPECT_EQ(why([&] { socket.check(); }),
              ": Connection refused (left by a chronyd that has stopped)");
    std::filesystem::remove(socket.Path);
    const int fd = chronyd();

    // struct sock_sample in this system's native layout: timeval, offset, pulse and leap (0: a
    // whole time, no leap second), padding, magic.
    socket.send({sys_time<microseconds>(1'796'000'000'123'456us), -0.2503});
    char data[128];
    ASSERT_EQ(::recv(fd, data, sizeof data, 0), ssize_t(sizeof(timeval) + sizeof(double) + 16));
    timeval tv{};
    double offset = 0;
    int ints[4] = {};
    std::memcpy(&tv, data, sizeof tv);
    std::memcpy(&offset, data + sizeof tv, sizeof offset);
    std::memcpy(ints, data + sizeof tv + sizeof offset, sizeof ints);
    EXPECT_TRUE(tv.tv_sec == 1'796'000'000 && tv.tv_usec == 123'456 && offset == -0.2503);
    EXPECT_TRUE(ints[0] == 0 && ints[1] == 0 && ints[3] == 0x534f434b) << "pulse, leap, magic";

    // A chronyd that reads nothing: the sends fail at once when its queue is full.
    std::string full;
    for (int i = 0; i < 100'000 && (full = why([&] { socket.send({}); })) == "no error";) ++i;
    EXPECT_EQ(full, ": Resource temporarily unavailable (chronyd is not reading its samples)");
    ::close(fd);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tidewell
