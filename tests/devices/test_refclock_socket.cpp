// Samples to a socket bound where chronyd would bind its own: chrony's layout, its values,
// and the reasons a socket cannot be reached.
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

namespace fs = std::filesystem;
using namespace std::chrono;

struct ChronySide : ::testing::Test {
    fs::path dir;
    int fd = -1;
    PosixRefclockSocket socket;

    ChronySide() {
        std::string folder = (fs::temp_directory_path() / "tidewell-sock-XXXXXX").string();
        if (!::mkdtemp(folder.data())) throw std::runtime_error("cannot make a folder");
        dir = folder;
        socket.Path = (dir / "chrony.sock").string();
    }
    ~ChronySide() override {
        if (fd >= 0) ::close(fd);
        fs::remove_all(dir);
    }
    // As chronyd does: a datagram socket bound at the path.
    void bind() {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, socket.Path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    std::string reason(void (PosixRefclockSocket::*call)()) {
        try {
            (socket.*call)();
        } catch (const Error& e) {
            return e.description();
        }
        return "no error";
    }
};

// struct sock_sample: a timeval, the offset, pulse and leap (0: a whole time, no leap second),
// padding and the magic number, in this system's native layout.
TEST_F(ChronySide, ASampleIsOneDatagramInChronysLayout) {
    bind();
    ASSERT_NO_THROW(socket.check());
    const sys_time<microseconds> pcTime(1'796'000'000'123'456us);
    socket.send({pcTime, -0.2503});
    char data[128];
    const ssize_t n = ::recv(fd, data, sizeof data, 0);
    ASSERT_EQ(n, ssize_t(sizeof(timeval) + sizeof(double) + 4 * sizeof(int)));
    timeval tv{};
    double offset = 0;
    int ints[4] = {};
    std::memcpy(&tv, data, sizeof tv);
    std::memcpy(&offset, data + sizeof tv, sizeof offset);
    std::memcpy(ints, data + sizeof tv + sizeof offset, sizeof ints);
    EXPECT_EQ(tv.tv_sec, 1'796'000'000);
    EXPECT_EQ(tv.tv_usec, 123'456);
    EXPECT_EQ(offset, -0.2503);
    EXPECT_EQ(ints[0], 0) << "pulse";
    EXPECT_EQ(ints[1], 0) << "leap";
    EXPECT_EQ(ints[3], 0x534f434b) << "magic";
}

// Missing, left behind by a chronyd that stopped, not a path at all; and a chronyd that does
// not read: the send fails at once instead of waiting.
TEST_F(ChronySide, EachReasonIsToldAndNothingWaits) {
    const std::string path = socket.Path;
    EXPECT_EQ(reason(&PosixRefclockSocket::check),
              "Reaching chrony's socket " + path +
                  ": No such file or directory (chronyd is not "
                  "running, or has no refclock SOCK line for it)");
    bind();
    ::close(std::exchange(fd, -1));
    EXPECT_EQ(reason(&PosixRefclockSocket::check),
              "Reaching chrony's socket " + path +
                  ": Connection refused (left by a chronyd that has stopped)");
    fs::remove(path);
    bind();
    std::string why;
    for (int i = 0; i < 100'000 && why.empty(); ++i) try {
            socket.send({});
        } catch (const Error& e) {
            why = e.description();
        }
    EXPECT_EQ(why, "Sending to chrony's socket " + path +
                       ": Resource temporarily unavailable (chronyd is not reading its samples)");
    socket.Path = "/" + std::string(107, 'x');
    EXPECT_NE(reason(&PosixRefclockSocket::check).find("not a socket path of 1 to 107 bytes"),
              std::string::npos);
}

}  // namespace
}  // namespace tidewell
