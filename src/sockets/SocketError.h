// The error value the socket classes hand to their callers and delegates.
#pragma once

#include <string>

namespace sockets {

// Domains of the errors the sockets report.
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";        // code: errno
inline constexpr const char* kNetDBErrorDomain = "kCFStreamErrorDomainNetDB"; // code: getaddrinfo's
inline constexpr const char* kUdpSocketErrorDomain = "AsyncUdpSocketErrorDomain";

// A failure: its domain, a small integer code and a readable message. POSIX errors also carry
// the operation that failed as `failureReason` (empty otherwise).
struct SocketError {
    std::string domain;
    int code = 0;
    std::string message;
    std::string failureReason;

    bool operator==(const SocketError&) const = default;

    // The current errno with its strerror text; `reason` names the failed call.
    static SocketError fromErrno(std::string reason = {});
    static SocketError fromErrno(int error, std::string reason);
    // A resolver (getaddrinfo) failure with its gai_strerror text.
    static SocketError fromGai(int gaiCode);
};

// Setting up a descriptor: socket() with close-on-exec, -1 and the error on failure; and the
// failure of a later step, which closes the descriptor and stores errno's error with `reason`.
int openSocket(int family, int type, SocketError* error);
int failSocketSetup(int fd, const char* reason, SocketError* error);

// Stores the error when the caller asked for it; answers false for `return fail(...)`.
inline bool fail(SocketError* out, SocketError error) {
    if (out != nullptr) {
        *out = std::move(error);
    }
    return false;
}

} // namespace sockets
