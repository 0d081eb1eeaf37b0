#include "net/network_error.h"

#include <windows.h>
#include <winhttp.h>

namespace kr {

namespace {

struct SecureReason {
    uint32_t flag;
    const char* text;
};

// The first matching bit names the reason, so a certificate that is both expired and untrusted is
// reported as expired: the user can fix the clock, not the server's chain.
constexpr SecureReason kSecureReasons[] = {
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "сертификат отозван"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID,
     "сертификат ещё не действует или истёк; проверьте дату и время Windows"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, "сертификат выдан для другого адреса"},
    {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, "Windows не доверяет центру сертификации сервера"},
    {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "некорректный сертификат сервера"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, "не удалось проверить отзыв сертификата"},
};
constexpr char kSecurePrefix[] = ". Защищённое соединение: ";
constexpr char kHandshakeFailed[] = "сбой согласования TLS";
// Wine reports every certificate problem as a failed secure channel, with no flags to name one; on
// Windows it is a handshake that went wrong before any certificate was judged. Either way the
// player can only look at what usually breaks TLS on a home machine.
constexpr char kChannelFailed[] = "не удалось установить; проверьте дату и время Windows, антивирус или прокси";

// Bits that mean the certificate itself was judged bad; a retry would meet the same certificate.
constexpr uint32_t kCertificateJudgedBad = 0x3E;

}  // namespace

std::string network_error_text(const char* base, uint32_t code, uint32_t secure_flags) {
    std::string text = base;
    if (code == ERROR_WINHTTP_SECURE_FAILURE) {
        text += kSecurePrefix;
        const char* reason = kHandshakeFailed;
        for (const SecureReason& candidate : kSecureReasons) {
            if ((secure_flags & candidate.flag) != 0) {
                reason = candidate.text;
                break;
            }
        }
        text += reason;
    } else if (code == ERROR_WINHTTP_SECURE_CHANNEL_ERROR) {
        text += kSecurePrefix;
        text += kChannelFailed;
    }
    return text + " (WinHTTP " + std::to_string(code) + ")";
}

NetworkError::NetworkError(const char* base, uint32_t code, uint32_t secure_flags)
    : std::runtime_error(network_error_text(base, code, secure_flags)), code(code), secure_flags(secure_flags) {}

bool NetworkError::is_retryable() const noexcept {
    switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_RESEND_REQUEST:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        return true;
    case ERROR_WINHTTP_SECURE_FAILURE:
        return (secure_flags & kCertificateJudgedBad) == 0;
    default:
        return false;
    }
}

DownloadIntegrityError::DownloadIntegrityError(const char* message) : std::runtime_error(message) {}
DownloadIntegrityError::DownloadIntegrityError(const std::string& message) : std::runtime_error(message) {}

}  // namespace kr
