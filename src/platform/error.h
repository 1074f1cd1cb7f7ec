#pragma once
// The program's one kind of failure: a number and a description, as the outside components
// and the operating system report them. Handlers that "fail" throw this.
#include <stdexcept>
#include <string>

namespace tidewell {

class Error : public std::runtime_error {
public:
    Error(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    int number() const noexcept { return number_; }
    std::string description() const { return what(); }

private:
    int number_;
};

// Numbers the program itself gives out.
namespace errors {
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int TransientSend = 126;  // "try the next frame": ignored by the scheduler
inline constexpr int UnsupportedValueType = 1001;
inline constexpr int InvalidDate = 5;  // a date value outside years 100..9999
}  // namespace errors

}  // namespace tidewell
