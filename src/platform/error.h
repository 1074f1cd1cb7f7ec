#pragma once
// The program's one kind of failure: a number and a description, as the outside components
// and the operating system report them. Handlers that "fail" throw this.
#include <cstring>
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

// Numbers the program itself gives out, as the components it stands in for numbered them, so
// both platforms report alike.
namespace errors {
inline constexpr int InvalidDate = 5;  // a date value outside years 100..9999
inline constexpr int Overflow = 6;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int TypeMismatch = 13;
inline constexpr int TransientSend = 126;  // "try the next frame": ignored by the scheduler
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int UnsupportedValueType = 1001;
inline constexpr int PortClosed = 8018;      // writing to a serial port that is not open
inline constexpr int HostNotFound = 11001;   // a UDP destination name that does not resolve
inline constexpr int WrongProtocol = 40006;  // sending while the socket is not set to UDP

// An operating-system error number as the program reports it. The few that share a number
// with one the program tests for (EIO is 5, ENOKEY is 126) move above this base.
inline constexpr int kCollidingSystemErrorBase = 20000;
constexpr int fromSystem(int number) {
    for (int taken :
         {InvalidDate, Overflow, SubscriptOutOfRange, TypeMismatch, TransientSend,
          InvalidPropertyValue, UnsupportedValueType, PortClosed, HostNotFound, WrongProtocol})
        if (number == taken) return kCollidingSystemErrorBase + number;
    return number;
}
}  // namespace errors

// An Error for a failed system call: the operation and object, then the system's own words.
inline Error systemError(int number, const std::string& what) {
    return Error(errors::fromSystem(number), what + ": " + std::strerror(number));
}

}  // namespace tidewell
