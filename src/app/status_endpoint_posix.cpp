#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <list>
#include <thread>

#include "app/status_endpoint.h"

namespace tidewell {

namespace {

constexpr const char* kBusy = "error: busy; ask again\n";
constexpr const char* kSilent = "error: no request within 2 s\n";

std::string systemWords(int error) {
    return std::strerror(error);
}

bool socketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A folder of this user's own that no one else may write in, made when missing.
std::string privateFolderProblem(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot make " + folder + ": " + systemWords(errno);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return folder + ": " + systemWords(errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0)
        return folder + " is not a folder of this user's own that only it may write";
    return {};
}

std::string fallbackFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/tidewell-" +
           std::to_string(::geteuid());
}

std::string userFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime == '/' ? std::string(runtime) + "/tidewell" : std::string();
}

constexpr const char* kServiceFolder = "/run/tidewell";

}  // namespace

std::vector<std::string> statusEndpointPlaces(const std::string& path) {
    if (!path.empty()) return {path};
    std::vector<std::string> places;
    if (const std::string user = userFolder(); !user.empty()) places.push_back(user + "/status");
    places.push_back(std::string(kServiceFolder) + "/status");
    places.push_back(fallbackFolder() + "/status");
    return places;
}

struct StatusEndpoint::Impl {
    struct Client {
        int fd = -1;
        StatusRequestReader reader;
        std::string out;
        std::size_t sent = 0;
        EventLoop::Token watch, timeout;
        ~Client() { ::close(fd); }
    };

    EventLoop& loop;
    Answer answer;
    std::string path;
    int listener = -1;
    ino_t inode = 0;
    EventLoop::Token watch;
    std::list<Client> clients;

    Impl(EventLoop& l, Answer a) : loop(l), answer(std::move(a)) {}
    ~Impl() {
        clients.clear();
        if (listener < 0) return;
        ::close(listener);
        // Only its own: another program may have taken the place since.
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && st.st_ino == inode) ::unlink(path.c_str());
    }

    // Why the place cannot be had, or empty once listening there.
    std::string listen(const std::string& at) {
        sockaddr_un address;
        const std::string temporary = at + "." + std::to_string(::getpid());
        if (!socketAddress(temporary, address))
            return "the path " + at + " is too long for a socket";
        struct stat st {};
        if (::lstat(at.c_str(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode)) return at + " exists and is not a socket";
            if (askStatus(at, "", 1000).outcome != StatusReply::Outcome::NotRunning)
                return "another program answers at " + at;
            ::unlink(at.c_str());  // left by a program that died
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return "socket: " + systemWords(errno);
        ::unlink(temporary.c_str());
        // Made under a temporary name and renamed once its mode is right, so no one else can
        // connect in between.
        std::string failed;
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            failed = "binding " + at;
        else if (::chmod(temporary.c_str(), 0660) != 0)
            failed = "setting the mode of " + at;
        else if (::listen(fd, 16) != 0)
            failed = "listening at " + at;
        else if (::rename(temporary.c_str(), at.c_str()) != 0)
            failed = "naming " + at;
        if (!failed.empty()) {
            failed += ": " + systemWords(errno);
            ::close(fd);
            ::unlink(temporary.c_str());
            return failed;
        }
        ::lstat(at.c_str(), &st);
        listener = fd, path = at, inode = st.st_ino;
        watch = loop.watchReadable(listener, [this] { accept(); });
        return {};
    }

    void accept() {
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;  // EAGAIN, or a client gone before it was taken
            if (clients.size() >= std::size_t(kMaxClients)) {
                ::send(fd, kBusy, std::strlen(kBusy), MSG_NOSIGNAL | MSG_DONTWAIT);
                ::close(fd);
                continue;
            }
            Client& c = clients.emplace_back();
            c.fd = fd;
            const auto it = std::prev(clients.end());
            c.watch = loop.watchReadable(fd, [this, it] { read(it); });
            c.timeout = loop.after(kRequestTimeoutMs, [this, it] {
                if (it->out.empty())
                    ::send(it->fd, kSilent, std::strlen(kSilent), MSG_NOSIGNAL | MSG_DONTWAIT);
                clients.erase(it);
            });
        }
    }

    void read(std::list<Client>::iterator it) {
        Client& c = *it;
        char buffer[512];
        std::optional<StatusRequest> request;
        for (;;) {
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                if ((request = c.reader.feed(std::string_view(buffer, std::size_t(n))))) break;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
            if (n < 0) return void(clients.erase(it));
            request = c.reader.end();  // the client has shut its sending side
            break;
        }
        c.watch.reset();
        c.out = request->kind ? answer(*request) : request->error + "\n";
        write(it);
    }

    void write(std::list<Client>::iterator it) {
        Client& c = *it;
        while (c.sent < c.out.size()) {
            const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!c.watch) c.watch = loop.watchWritable(c.fd, [this, it] { write(it); });
                return;
            }
            if (n <= 0) break;
            c.sent += std::size_t(n);
        }
        clients.erase(it);
    }
};

namespace {

// The place to listen at: `path`, or this user's. `note` says why it is the fallback.
std::string placeFor(const std::string& path, std::string& place, std::string& note) {
    if (!path.empty()) {
        if (::access(folderOf(path).c_str(), W_OK | X_OK) != 0)
            return "--status-socket " + path + ": " + folderOf(path) + ": " + systemWords(errno);
        place = path;
        return {};
    }
    std::string folder = userFolder();
    if (folder.empty()) {
        folder = kServiceFolder;
        if (::access(folder.c_str(), W_OK | X_OK) != 0) {
            folder = fallbackFolder();
            note = "XDG_RUNTIME_DIR is unset and " + std::string(kServiceFolder) +
                   " is not writable; ";
        }
    }
    if (folder != kServiceFolder)
        if (std::string problem = privateFolderProblem(folder); !problem.empty()) return problem;
    place = folder + "/status";
    return {};
}

}  // namespace

StatusEndpoint::StatusEndpoint(EventLoop& loop, const std::string& path, Answer answer, Tell tell)
    : impl_(std::make_unique<Impl>(loop, std::move(answer))) {
    std::string place, note;
    std::string problem = placeFor(path, place, note);
    if (problem.empty()) problem = impl_->listen(place);
    if (!problem.empty())
        tell("status: " + problem + "; no status socket");
    else if (!note.empty())
        tell("status: " + note + "the status socket is " + place);
}

StatusEndpoint::~StatusEndpoint() = default;

const std::string& StatusEndpoint::path() const {
    return impl_->path;
}

// ---- The client --------------------------------------------------------------------------

StatusReply askStatus(const std::string& place, const std::string& request, int timeoutMs) {
    using Outcome = StatusReply::Outcome;
    sockaddr_un address;
    if (!socketAddress(place, address)) return {Outcome::Failed, place + ": too long for a socket"};
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {Outcome::Failed, "socket: " + systemWords(errno)};
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    const timeval wait{timeoutMs / 1000, timeoutMs % 1000 * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int e = errno;
        if (e == ENOENT || e == ECONNREFUSED || e == ENOTDIR)
            return {Outcome::NotRunning, place + ": " + systemWords(e)};
        return {Outcome::Failed, "connecting to " + place + ": " + systemWords(e)};
    }
    // An empty request only asks whether anyone listens.
    if (request.empty()) return {Outcome::Answered, {}};
    const std::string line = request + "\n";
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size()))
        return {Outcome::Failed, "sending to " + place + ": " + systemWords(errno)};
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            return {Outcome::Failed,
                    "reading from " + place + ": " +
                        (errno == EAGAIN ? std::string("no answer in time") : systemWords(errno))};
        answer.append(buffer, std::size_t(n));
    }
    return {Outcome::Answered, answer};
}

}  // namespace tidewell
