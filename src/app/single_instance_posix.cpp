#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "app/single_instance.h"
#include "app/status_endpoint.h"

namespace tidewell {

namespace {

// The first folder of this user's that the lock can live in: the session's runtime folder,
// the system service's, else a private one in /tmp.
std::string lockFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        const std::string folder = std::string(runtime) + "/tidewell";
        ::mkdir(folder.c_str(), 0700);
        if (::access(folder.c_str(), W_OK) == 0) return folder;
    }
    if (::access("/run/tidewell", W_OK) == 0) return "/run/tidewell";
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder =
        std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/tidewell-" + std::to_string(::geteuid());
    ::mkdir(folder.c_str(), 0700);
    struct stat st {};
    // Another user's folder of that name must not take our lock.
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return {};
    return folder;
}

}  // namespace

// The lock file holds the holder's process id and, once it serves them, where it answers
// status requests.
struct InstanceLock::Impl {
    std::string file;
    int fd = -1;
    bool held = false;
    long pid = 0;
    std::string statusPlace;
};

InstanceLock::InstanceLock(const std::string& settingsFile) : impl_(std::make_unique<Impl>()) {
    // Without a folder or a file for it, the program runs, as before there were locks.
    impl_->held = true;
    const std::string folder = lockFolder();
    if (folder.empty()) return;
    impl_->file = folder + "/" + instanceName(settingsFile) + ".lock";
    impl_->fd = ::open(impl_->file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (impl_->fd < 0) return;
    if (::flock(impl_->fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
        recordStatusPlace({});
        return;
    }
    impl_->held = false;
    std::ifstream in(impl_->file);
    in >> impl_->pid;
    in.ignore(1);
    std::getline(in, impl_->statusPlace);
}

InstanceLock::~InstanceLock() {
    // The file stays: removing it would let a start that has it open lock a name no one
    // else finds.
    if (impl_->fd >= 0) ::close(impl_->fd);
}

bool InstanceLock::held() const {
    return impl_->held;
}

long InstanceLock::holderPid() const {
    return impl_->pid;
}

void InstanceLock::recordStatusPlace(const std::string& place) {
    if (impl_->fd < 0 || !impl_->held) return;
    const std::string text = std::to_string(::getpid()) + "\n" + place + "\n";
    if (::ftruncate(impl_->fd, 0) == 0)
        [[maybe_unused]] const auto written = ::pwrite(impl_->fd, text.data(), text.size(), 0);
}

bool InstanceLock::showHolder() const {
    if (impl_->held || impl_->statusPlace.empty()) return false;
    const StatusReply reply = askStatus(impl_->statusPlace, "show", 2000);
    return reply.outcome == StatusReply::Outcome::Answered && reply.text.starts_with("ok");
}

std::wstring InstanceLock::showMessage() const {
    return {};
}

}  // namespace tidewell
