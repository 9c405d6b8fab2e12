// What every simulated call does first and last: take the machine's lock, count the call
// against injected failures, and log its arguments and result.
#pragma once

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/sim/machine.h"

namespace sim {

void SetThreadError(win::DWORD error);

inline std::string Arg(const char16_t* text) {
    if (text == nullptr) return "null";
    const auto value = reinterpret_cast<std::uintptr_t>(text);
    if (value < 0x10000) return "#" + std::to_string(value);
    return "\"" + Narrow(text) + "\"";
}
inline std::string Arg(const char* text) {
    return text ? "\"" + std::string(text) + "\"" : "null";
}
inline std::string Arg(const void* pointer) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%p", pointer);
    return buffer;
}
inline std::string Arg(unsigned long long value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx", value);
    return buffer;
}
inline std::string Arg(win::DWORD value) {
    return Arg(static_cast<unsigned long long>(value));
}
inline std::string Arg(int value) {
    return std::to_string(value);
}

template <class R>
std::string Result(R result) {
    if constexpr (std::is_pointer_v<R>) {
        return result ? "handle" : "null";
    } else {
        return std::to_string(result);
    }
}

template <class... A>
std::string Args(const A&... a) {
    std::string out;
    ((out += (out.empty() ? "" : ", ") + Arg(a)), ...);
    return out;
}

class Call {
  public:
    Call(const char* function, std::string arguments)
        : machine_(sim::machine()),
          guard_(machine_.lock),
          function_(function),
          arguments_(std::move(arguments)),
          injected(machine_.Enter(function)) {}

    Machine& machine() { return machine_; }

    // Logs and returns the result.
    template <class R>
    R Return(R result) {
        machine_.Log(function_, arguments_, Result(result));
        return result;
    }
    // Sets the thread's last error, logs and returns the failure value.
    template <class R>
    R Fail(R result, win::DWORD error) {
        SetThreadError(error);
        machine_.Log(function_, arguments_, Result(result) + " error " + std::to_string(error));
        return result;
    }
    template <class R>
    R Pointer(R result) {
        machine_.Log(function_, arguments_, Arg(static_cast<const void*>(result)));
        return result;
    }

  private:
    Machine& machine_;
    std::lock_guard<std::recursive_mutex> guard_;
    std::string function_;
    std::string arguments_;

  public:
    const std::optional<win::DWORD> injected;
};

}  // namespace sim
