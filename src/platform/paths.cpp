#include "platform/paths.h"

namespace tidewell::paths {

std::string join(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || !out.ends_with(separator)) out += separator;
    out += name;
    return out;
}

namespace {
std::size_t lastSeparator(std::string_view path) {
    return path.find_last_of(std::string(separator) + "/");
}
}  // namespace

std::string folderOf(std::string_view path) {
    const std::size_t at = lastSeparator(path);
    if (at == std::string_view::npos) return ".";
    const std::string_view folder = path.substr(0, at);
    return std::string(folder.empty() || folder.ends_with(':') ? path.substr(0, at + 1) : folder);
}

std::string stemOf(std::string_view path) {
    const std::size_t at = lastSeparator(path);
    std::string_view name = at == std::string_view::npos ? path : path.substr(at + 1);
    if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos && dot > 0)
        name = name.substr(0, dot);
    return std::string(name);
}

}  // namespace tidewell::paths
