#pragma once

#include <stdexcept>

namespace common {

// A Windows call that reported failure. what() is the product's own text, the one the player
// reads; the HRESULT or NTSTATUS travels with it for whoever diagnoses the failure.
class WindowsCallError : public std::runtime_error {
public:
    WindowsCallError(const char* message, long code) : std::runtime_error(message), code_(code) {}
    long code() const noexcept { return code_; }

private:
    long code_;
};

// Throws WindowsCallError(message, code) when `code` reports failure. HRESULTs (FAILED) and NTSTATUS
// values (NT_SUCCESS) agree on the rule: negative is failure, which for NTSTATUS includes its
// warnings; S_FALSE and NTSTATUS's informational codes are success.
inline void throw_if_failed(long code, const char* message) {
    if (code < 0) {
        throw WindowsCallError(message, code);
    }
}

}  // namespace common
