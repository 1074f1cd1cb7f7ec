#include "platform/paths.h"

namespace tidewell::paths {

std::string join(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || !out.ends_with(separator)) out += separator;
    out += name;
    return out;
}

}  // namespace tidewell::paths
