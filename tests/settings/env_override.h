#pragma once
// Sets or clears environment variables for one test and puts them back afterwards.
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace tidewell::testing {

class EnvOverride {
public:
    ~EnvOverride() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    // nullopt clears the variable.
    void set(const std::string& name, std::optional<std::string> value) {
        if (!saved_.contains(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace tidewell::testing
