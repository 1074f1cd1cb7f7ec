#include <windows.h>

#include <sddl.h>

#include <list>
#include <vector>

#include "app/status_endpoint.h"
#include "platform/text_win32.h"
#include "platform/windows_error_win32.h"

namespace tidewell {

namespace {

constexpr const char* kBusy = "error: busy; ask again\n";
constexpr const char* kPipePrefix = "\\\\.\\pipe\\";
constexpr DWORD kBufferSize = 4096;

std::string userName() {
    wchar_t name[257];
    DWORD size = 257;
    return ::GetUserNameW(name, &size) ? win32::utf8(name) : std::string("unknown");
}

// Only this user, SYSTEM and the administrators may open or add to the pipe.
PSECURITY_DESCRIPTOR ownersOnly(std::string& problem) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return problem = "reading this process's user: " + windowsErrorText(::GetLastError()),
               nullptr;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    wchar_t* sid = nullptr;
    const bool got =
        ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid);
    ::CloseHandle(token);
    if (!got)
        return problem = "reading this process's user: " + windowsErrorText(::GetLastError()),
               nullptr;
    const std::wstring sddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;" + std::wstring(sid) + L")";
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        problem = "making the pipe's security descriptor: " + windowsErrorText(::GetLastError());
    return descriptor;
}

// Waits for an overlapped operation on `h` for at most `ms`: the bytes moved, or the error.
DWORD finish(HANDLE h, OVERLAPPED& o, DWORD& moved, int ms) {
    if (::WaitForSingleObject(o.hEvent, DWORD(ms)) != WAIT_OBJECT_0) {
        ::CancelIoEx(h, &o);
        ::GetOverlappedResult(h, &o, &moved, TRUE);
        return WAIT_TIMEOUT;
    }
    return ::GetOverlappedResult(h, &o, &moved, FALSE) ? 0 : ::GetLastError();
}

}  // namespace

std::vector<std::string> statusEndpointPlaces(const std::string& path) {
    if (path.empty()) return {kPipePrefix + std::string("tidewell-status-") + userName()};
    return {path.starts_with(kPipePrefix) ? path : kPipePrefix + path};
}

struct StatusEndpoint::Impl {
    // One pipe instance: listening for a client, then reading its request, then answering.
    struct Instance {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        OVERLAPPED overlapped{};
        bool connected = false, pending = false;
        char buffer[512];
        StatusRequestReader reader;
        std::string out;
        EventLoop::Token watch, timeout;

        Instance() { overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
        ~Instance() {
            watch.reset(), timeout.reset();
            if (pending) {
                DWORD n = 0;
                ::CancelIoEx(pipe, &overlapped);
                ::GetOverlappedResult(pipe, &overlapped, &n, TRUE);
            }
            // Closed, not disconnected: a client still reads what was written.
            if (pipe != INVALID_HANDLE_VALUE) ::CloseHandle(pipe);
            ::CloseHandle(overlapped.hEvent);
        }
    };
    using Place = std::list<Instance>::iterator;

    EventLoop& loop;
    Answer answer;
    std::string path;
    std::wstring name;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::list<Instance> instances;
    bool listening = false, first = true;

    Impl(EventLoop& l, Answer a) : loop(l), answer(std::move(a)) {}
    ~Impl() {
        instances.clear();
        if (descriptor) ::LocalFree(descriptor);
    }

    // Makes the next instance a client can connect to, while fewer than kMaxClients are
    // being served; a client finds the pipe busy meanwhile and waits. The first instance
    // must be the first of its name: a name another program holds is not shared. Returns
    // the system's error, or 0.
    DWORD listenNext() {
        if (listening || instances.size() >= std::size_t(kMaxClients)) return 0;
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        const HANDLE pipe = ::CreateNamedPipeW(
            name.c_str(),
            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, 0, &attributes);
        if (pipe == INVALID_HANDLE_VALUE) return ::GetLastError();
        first = false;
        Instance& i = instances.emplace_back();
        const Place at = std::prev(instances.end());
        i.pipe = pipe;
        i.watch = loop.watchReadable(reinterpret_cast<NativeHandle>(i.overlapped.hEvent),
                                     [this, at] { ready(at); });
        listening = true;
        const DWORD e =
            ::ConnectNamedPipe(pipe, &i.overlapped) ? ERROR_PIPE_CONNECTED : ::GetLastError();
        if (e == ERROR_IO_PENDING) {
            i.pending = true;
        } else if (e == ERROR_PIPE_CONNECTED) {
            ::SetEvent(i.overlapped.hEvent);
        } else {
            instances.erase(at);
            listening = false;
            return e;
        }
        return 0;
    }

    void drop(Place at) {
        if (!at->connected) listening = false;
        instances.erase(at);
        listenNext();  // a failure here leaves the endpoint quiet until a session ends
    }

    void ready(Place at) {
        Instance& i = *at;
        DWORD moved = 0;
        const bool ok = !i.pending || ::GetOverlappedResult(i.pipe, &i.overlapped, &moved, FALSE);
        const DWORD error = ok ? 0 : ::GetLastError();
        i.pending = false;
        ::ResetEvent(i.overlapped.hEvent);
        if (!i.connected) {
            if (!ok) return drop(at);
            i.connected = true, listening = false;
            i.timeout = loop.after(kRequestTimeoutMs, [this, at] { drop(at); });
            listenNext();
            return read(at);
        }
        if (!i.out.empty()) return drop(at);  // the answer is written, or cannot be
        std::optional<StatusRequest> request;
        if (ok)
            request = i.reader.feed(std::string_view(i.buffer, moved));
        else if (error == ERROR_BROKEN_PIPE)
            request = i.reader.end();
        else
            return drop(at);
        if (!request) return read(at);
        respond(at, *request);
    }

    void read(Place at) {
        Instance& i = *at;
        i.overlapped.Offset = i.overlapped.OffsetHigh = 0;
        if (::ReadFile(i.pipe, i.buffer, sizeof i.buffer, nullptr, &i.overlapped) ||
            ::GetLastError() == ERROR_IO_PENDING)
            i.pending = true;
        else if (::GetLastError() == ERROR_BROKEN_PIPE)
            respond(at, i.reader.end());  // the client sent all it will
        else
            drop(at);
    }

    void respond(Place at, const StatusRequest& request) {
        write(at, request.kind ? answer(request) : request.error + "\n");
    }

    void write(Place at, std::string text) {
        Instance& i = *at;
        i.out = std::move(text);
        i.timeout.reset();
        i.overlapped.Offset = i.overlapped.OffsetHigh = 0;
        if (!::WriteFile(i.pipe, i.out.data(), DWORD(i.out.size()), nullptr, &i.overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING)
            return drop(at);
        i.pending = true;
        // A client that never reads a long answer is not waited for forever.
        i.timeout = loop.after(kRequestTimeoutMs, [this, at] { drop(at); });
    }
};

StatusEndpoint::StatusEndpoint(EventLoop& loop, const std::string& path, Answer answer, Tell tell)
    : impl_(std::make_unique<Impl>(loop, std::move(answer))) {
    const std::string place = statusEndpointPlaces(path).front();
    std::string problem;
    impl_->descriptor = ownersOnly(problem);
    impl_->name = win32::wide(place);
    if (problem.empty()) {
        if (const DWORD e = impl_->listenNext(); e == ERROR_ACCESS_DENIED || e == ERROR_PIPE_BUSY)
            problem = "another program answers at " + place;
        else if (e != 0)
            problem = "creating the pipe " + place + ": " + windowsErrorText(e);
        else
            impl_->path = place;
    }
    if (!problem.empty()) tell("status: " + problem + "; no status pipe");
}

StatusEndpoint::~StatusEndpoint() = default;

const std::string& StatusEndpoint::path() const {
    return impl_->path;
}

// ---- The client --------------------------------------------------------------------------

StatusReply askStatus(const std::string& place, const std::string& request, int timeoutMs) {
    using Outcome = StatusReply::Outcome;
    const std::wstring name = win32::wide(place);
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int tries = 0; pipe == INVALID_HANDLE_VALUE; ++tries) {
        pipe = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) break;
        const DWORD e = ::GetLastError();
        if (e == ERROR_FILE_NOT_FOUND) return {Outcome::NotRunning, place + ": no such pipe"};
        if (e != ERROR_PIPE_BUSY)
            return {Outcome::Failed, "opening " + place + ": " + windowsErrorText(e)};
        // Every instance is serving another client.
        if (tries > 0 || !::WaitNamedPipeW(name.c_str(), DWORD(timeoutMs)))
            return {Outcome::Answered, kBusy};
    }
    struct Closer {
        HANDLE pipe, event;
        ~Closer() { ::CloseHandle(pipe), ::CloseHandle(event); }
    } closer{pipe, ::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED o{};
    o.hEvent = closer.event;
    DWORD moved = 0;
    const std::string line = request + "\n";
    DWORD e =
        ::WriteFile(pipe, line.data(), DWORD(line.size()), nullptr, &o) ? 0 : ::GetLastError();
    if (e == 0 || e == ERROR_IO_PENDING) e = finish(pipe, o, moved, timeoutMs);
    if (e != 0) return {Outcome::Failed, "writing to " + place + ": " + windowsErrorText(e)};
    std::string answer;
    char buffer[4096];
    for (;;) {
        o = OVERLAPPED{};
        o.hEvent = closer.event;
        ::ResetEvent(closer.event);
        e = ::ReadFile(pipe, buffer, sizeof buffer, nullptr, &o) ? 0 : ::GetLastError();
        if (e == 0 || e == ERROR_IO_PENDING) e = finish(pipe, o, moved, timeoutMs);
        if (e == ERROR_BROKEN_PIPE || e == ERROR_PIPE_NOT_CONNECTED) break;
        if (e == WAIT_TIMEOUT)
            return {Outcome::Failed, "reading from " + place + ": no answer in time"};
        if (e != 0) return {Outcome::Failed, "reading from " + place + ": " + windowsErrorText(e)};
        answer.append(buffer, moved);
    }
    return {Outcome::Answered, answer};
}

}  // namespace tidewell
