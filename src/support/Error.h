#pragma once
// One exception type for every failure that the control reports as a numbered run-time error.

#include <stdexcept>
#include <string>

namespace dorvex {

namespace err {
constexpr int InvalidArgument = 5;   // invalid procedure call or argument
constexpr int Overflow = 6;
constexpr int OutOfMemory = 7;
constexpr int SubscriptOutOfRange = 9;
constexpr int TypeMismatch = 13;
constexpr int FileNotFound = 53;
constexpr int PathNotFound = 76;
constexpr int DeviceIo = 57;
constexpr int NotSetAtRunTime = 382;
constexpr int NotSetAtDesignTime = 387;
constexpr int CannotCreateObject = 429;  // a component (the recognition engine) cannot be started
constexpr int AutomationError = 440;     // a component failed inside a call
}  // namespace err

class DorvexError : public std::runtime_error {
public:
    DorvexError(int number, const std::string& description)
        : std::runtime_error(description), mNumber(number) {}
    int Number() const noexcept { return mNumber; }

private:
    int mNumber;
};

}  // namespace dorvex
