#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kr {

// A transport failure that carries the WinHTTP (or Windows) error code. The message is composed by
// network_error_text, so it always ends with " (WinHTTP <code>)".
struct NetworkError : std::runtime_error {
    NetworkError(const char* base, uint32_t code, uint32_t secure_flags);

    // Whether the same request may be sent again: transient transport failures only, never a
    // certificate that was judged bad.
    bool is_retryable() const noexcept;

    uint32_t code;
    uint32_t secure_flags;
};

// A download whose bytes cannot be trusted (refused resume, short file, wrong digest): the download
// starts over from scratch on this type, and on no other.
struct DownloadIntegrityError : std::runtime_error {
    explicit DownloadIntegrityError(const char* message);
    explicit DownloadIntegrityError(const std::string& message);
};

// Base text, the TLS reason when the code is 12175 (ERROR_WINHTTP_SECURE_FAILURE), then the code.
std::string network_error_text(const char* base, uint32_t code, uint32_t secure_flags);

}  // namespace kr
