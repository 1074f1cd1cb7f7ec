#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <utility>

#include "platform/text_win32.h"
#include "platform/windows_error_win32.h"
#include "settings/file_ops.h"

namespace tidewell::files {

namespace {

// Closes a handle when it goes out of scope.
struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    explicit Handle(HANDLE handle) : h(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (ok()) ::CloseHandle(h);
    }
    bool ok() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
};

// Windows takes both separators.
std::size_t lastSeparator(const std::wstring& path) {
    return path.find_last_of(L"\\/");
}

// The file a write replaces, with the folder (ending in a separator, or empty) and name it
// lies in.
struct Target {
    std::wstring path;
    std::wstring folderPrefix;
    std::wstring base;
};

// A symbolic link is followed, so the link survives the replacement.
std::optional<Target> resolve(const std::string& requested) {
    Target t{win32::wide(requested), {}, {}};
    const DWORD attributes = ::GetFileAttributesW(t.path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        Handle file(::CreateFileW(t.path.c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file.ok()) return std::nullopt;
        std::wstring final(MAX_PATH, L'\0');
        DWORD n = ::GetFinalPathNameByHandleW(file.h, final.data(), DWORD(final.size()), 0);
        if (n >= final.size()) {
            final.resize(n);
            n = ::GetFinalPathNameByHandleW(file.h, final.data(), DWORD(final.size()), 0);
        }
        if (n == 0 || n >= final.size()) return std::nullopt;
        final.resize(n);
        t.path = final;
    }
    const std::size_t at = lastSeparator(t.path);
    t.folderPrefix = at == std::wstring::npos ? L"" : t.path.substr(0, at + 1);
    t.base = t.path.substr(t.folderPrefix.size());
    if (t.base.empty()) return std::nullopt;
    return t;
}

// Temporary names are this prefix, the writer's process id, '-' and a counter.
std::wstring temporaryPrefix(const Target& t) {
    return t.folderPrefix + L"." + t.base.substr(0, 200) + L".tmp";
}

bool isTemporaryName(std::wstring_view name, std::wstring_view prefix) {
    if (!name.starts_with(prefix)) return false;
    name.remove_prefix(prefix.size());
    const std::size_t dash = name.find(L'-');
    auto digits = [](std::wstring_view s) {
        return !s.empty() && s.find_first_not_of(L"0123456789") == s.npos;
    };
    return dash != name.npos && digits(name.substr(0, dash)) && digits(name.substr(dash + 1));
}

// Attributes a replaced file passes on; read-only is refused before we get here.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Creates a new temporary file. A live writer's handle shares nothing but delete (which its
// own rename needs), so a clean-up, which opens exclusively, cannot take the file from it.
HANDLE createHeldTemporary(const std::wstring& prefix, DWORD attributes, std::wstring& temp) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp =
            prefix + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
        HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_WRITE | WRITE_DAC | DELETE,
                                 FILE_SHARE_DELETE, nullptr, CREATE_NEW, attributes, nullptr);
        if (h != INVALID_HANDLE_VALUE) return h;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
            error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

// The replaced file's access list goes with it; entries it inherited are derived afresh.
bool keepAccessList(HANDLE original, HANDLE temp) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(original, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    const DWORD inheritance = (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                            : UNPROTECTED_DACL_SECURITY_INFORMATION;
    const bool ok = ::SetSecurityInfo(temp, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance,
                                      nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    ::LocalFree(descriptor);
    return ok;
}

bool writeAll(HANDLE h, std::string_view data) {
    while (!data.empty()) {
        const DWORD chunk = DWORD(std::min<std::size_t>(data.size(), 1 << 20));
        DWORD written = 0;
        if (!::WriteFile(h, data.data(), chunk, &written, nullptr) || written == 0) return false;
        data.remove_prefix(written);
    }
    return true;
}

}  // namespace

Prefix readPrefix(const std::string& path, std::size_t limit) {
    Prefix out;
    const std::wstring name = win32::wide(path);
    // Folders fail to open without backup semantics; devices and pipes open but are not disk
    // files, and are never read: a serial port or pipe put in the file's place must not stall.
    Handle file(::CreateFileW(name.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) {
        const DWORD error = ::GetLastError();
        out.status = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                         ? Prefix::Status::Missing
                         : Prefix::Status::Unusable;
        out.reason = windowsErrorText(error);
        return out;
    }
    if (::GetFileType(file.h) != FILE_TYPE_DISK) {
        out.status = Prefix::Status::Unusable;
        out.reason = "not a disk file";
        return out;
    }
    std::string& buf = out.bytes;
    std::size_t total = 0;
    while (total <= limit) {
        const std::size_t chunk = std::min<std::size_t>(limit + 1 - total, 1 << 16);
        buf.resize(total + chunk);
        DWORD n = 0;
        if (!::ReadFile(file.h, buf.data() + total, DWORD(chunk), &n, nullptr))
            return {Prefix::Status::Unusable, {}, false, windowsErrorText(::GetLastError())};
        if (n == 0) break;
        total += n;
    }
    out.whole = total <= limit;
    buf.resize(std::min(total, limit));
    out.status = Prefix::Status::Ok;
    return out;
}

WriteOutcome replaceAtomically(const std::string& requested, std::string_view contents) {
    const auto failed = [](const char* what, DWORD error = ::GetLastError()) {
        return WriteOutcome::failed(std::string(what) + ": " + windowsErrorText(error));
    };
    std::optional<Target> target = resolve(requested);
    if (!target) return failed("following its link");
    const std::wstring& path = target->path;

    // Opening the original for writing is the access check: attributes, access list, locks.
    Handle original(::CreateFileW(path.c_str(), GENERIC_WRITE | READ_CONTROL,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (original.ok()) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileType(original.h) != FILE_TYPE_DISK ||
            !::GetFileInformationByHandle(original.h, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return WriteOutcome::failed("it is not a regular file");
        if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return WriteOutcome::failed("it is read-only");
        if (info.dwFileAttributes & kKeptAttributes)
            attributes = info.dwFileAttributes & kKeptAttributes;
    } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
        return failed("opening it");  // read-only, a folder, no access, or no folder
    }

    std::wstring temp;
    Handle out(createHeldTemporary(temporaryPrefix(*target), attributes, temp));
    if (!out.ok()) return failed("creating a file in its folder");
    WriteOutcome result;
    if (original.ok() && !keepAccessList(original.h, out.h))
        result = failed("keeping its access list");
    if (result && !writeAll(out.h, contents)) result = failed("writing");
    if (result && !::FlushFileBuffers(out.h)) result = failed("flushing to disk");
    // The original's handle would hold up the move.
    if (original.ok()) ::CloseHandle(std::exchange(original.h, INVALID_HANDLE_VALUE));
    // Moved while still held, so a clean-up never takes it half-way.
    if (result && !::MoveFileExW(temp.c_str(), path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        result = failed("replacing it");
    if (!result) {
        FILE_DISPOSITION_INFO dispose{TRUE};
        ::SetFileInformationByHandle(out.h, FileDispositionInfo, &dispose, sizeof dispose);
    }
    return result;
}

void removeStaleTemporaryFiles(const std::string& path) {
    std::optional<Target> target = resolve(path);
    if (!target) return;
    const std::wstring prefix = temporaryPrefix(*target).substr(target->folderPrefix.size());
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((target->folderPrefix + prefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            !isTemporaryName(found.cFileName, prefix))
            continue;
        // Exclusive: fails while a live writer holds the file; deleted as the handle closes.
        const std::wstring name = target->folderPrefix + found.cFileName;
        Handle stale(::CreateFileW(name.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

std::string append(const std::string& path, std::string_view bytes) {
    // FILE_APPEND_DATA alone: every write lands at the end, whoever else appends.
    Handle file(::CreateFileW(win32::wide(path).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) return windowsErrorText(::GetLastError());
    if (::GetFileType(file.h) != FILE_TYPE_DISK) return "not a disk file";
    if (!writeAll(file.h, bytes)) return windowsErrorText(::GetLastError());
    return {};
}

std::string renameOver(const std::string& from, const std::string& to) {
    return ::MoveFileExW(win32::wide(from).c_str(), win32::wide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING)
               ? std::string()
               : windowsErrorText(::GetLastError());
}

bool folderWritable(const std::string& folder) {
    // Access lists, read-only media and virtualisation all have a say: only trying tells.
    std::wstring probe = win32::wide(folder.empty() ? "." : folder);
    if (probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
    probe += L".Tidewell.probe" + std::to_wstring(::GetCurrentProcessId());
    Handle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.ok();
}

bool makeFolders(const std::string& folder) {
    const std::filesystem::path wanted(win32::wide(folder));
    std::error_code ec;
    std::filesystem::create_directories(wanted, ec);
    return std::filesystem::is_directory(wanted, ec);
}

}  // namespace tidewell::files
