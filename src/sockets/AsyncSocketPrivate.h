// What the stream socket's source files share: state bits, error builders, small helpers.
#pragma once

#include "sockets/AsyncSocket.h"
#include "sockets/AsyncSocketPackets.h"

#include <chrono>

namespace sockets {

namespace stream {

// State bits; a close clears them all.
constexpr uint32_t kFlagStarted = 0x1;
constexpr uint32_t kFlagConnected = 0x2;
constexpr uint32_t kFlagNoNewIO = 0x4;
constexpr uint32_t kFlagReadsOnHold = 0x8;
constexpr uint32_t kFlagWritesOnHold = 0x10;
constexpr uint32_t kFlagCloseAfterReads = 0x20;
constexpr uint32_t kFlagCloseAfterWrites = 0x40;
constexpr uint32_t kFlagCanWrite = 0x80;
constexpr uint32_t kFlagReadSourceSuspended = 0x100;
constexpr uint32_t kFlagWriteSourceSuspended = 0x200;
constexpr uint32_t kFlagTLSQueued = 0x400;
constexpr uint32_t kFlagReadSideAtTLS = 0x800;
constexpr uint32_t kFlagWriteSideAtTLS = 0x1000;
constexpr uint32_t kFlagSecure = 0x2000;
constexpr uint32_t kFlagReadEOF = 0x4000;
constexpr uint32_t kFlagReadStreamClosed = 0x8000;
constexpr uint32_t kFlagDeallocating = 0x10000;

// Configuration bits; they survive a close.
constexpr uint16_t kConfigIPv4Disabled = 0x1;
constexpr uint16_t kConfigIPv6Disabled = 0x2;
constexpr uint16_t kConfigPreferIPv6 = 0x4;
constexpr uint16_t kConfigHalfDuplex = 0x8;

inline const char* const kUnknownInterface =
    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";
inline const char* const kBothDisabled =
    "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.";

inline SocketError streamError(StreamError code, std::string message) {
    return SocketError{kStreamSocketErrorDomain, static_cast<int>(code), std::move(message), {}};
}
inline SocketError badConfigError(std::string message) {
    return streamError(StreamError::badConfig, std::move(message));
}
inline SocketError badParamError(std::string message) {
    return streamError(StreamError::badParam, std::move(message));
}
inline SocketError otherError(std::string message) {
    return streamError(StreamError::other, std::move(message));
}
inline SocketError readTimeoutError() {
    return streamError(StreamError::readTimeout, "Read operation timed out");
}
inline SocketError writeTimeoutError() {
    return streamError(StreamError::writeTimeout, "Write operation timed out");
}
inline SocketError tlsError(int status, std::string message = {}) {
    return SocketError{kTlsErrorDomain, status, std::move(message), {}};
}

// A time-out as a duration on the dispatch clock. Held to about 31 years (NaN too): longer ones
// (INT64_MAX seconds, infinity) overflow the nanosecond count and would put the deadline in the
// past, so a larger time-out would end sooner than a smaller one. Negative ones are no wait.
inline dispatch::Duration seconds(double s) {
    constexpr double longest = 1e9;
    const double held = !(s <= longest) ? longest : s < 0 ? 0 : s;
    return std::chrono::duration_cast<dispatch::Duration>(std::chrono::duration<double>(held));
}

// An interface description "name:port" into addresses; the port part is used when `port` is 0.
InterfaceAddresses streamInterfaceAddresses(const std::optional<std::string>& description, uint16_t port);

} // namespace stream

// The TLS side of a stream socket. `ssl` is null while the connection is plain. OpenSSL reads and
// writes through a BIO of ours that goes to the socket's descriptor and its encrypted read-ahead.
struct TlsState {
    explicit TlsState(AsyncSocket& s)
        : socket(s) {}
    ~TlsState();
    TlsState(const TlsState&) = delete;
    TlsState& operator=(const TlsState&) = delete;

    // Statuses as the tls:: constants: 0, kWouldBlock, kClosedGraceful, kClosedAbort, or another
    // failure with OpenSSL's text in `failure`.
    int handshake();
    int read(uint8_t* buffer, size_t length, size_t* processed);
    int write(const uint8_t* buffer, size_t length, size_t* processed);
    size_t bufferedReadSize() const; // decrypted bytes held inside OpenSSL
    void reset();                    // closes the session and clears the TLS state
    // OpenSSL's I/O, through our BIO: the read-ahead and the descriptor. Statuses as above.
    int socketRead(uint8_t* buffer, size_t length, size_t* delivered);
    int socketWrite(const uint8_t* buffer, size_t length, size_t* sent);
    // What OpenSSL wrote, gathered so that a whole flight of records leaves in one send: added
    // by the BIO, sent at OpenSSL's flush and after each call. 0 when drained, else a status.
    void appendOut(const uint8_t* bytes, size_t length);
    int flushOut();
    size_t pendingOut() const { return out.size() - outSent; }

    AsyncSocket& socket;
    ssl_st* ssl = nullptr;
    PreBuffer preBuffer{4096}; // encrypted bytes read from the descriptor, not yet taken
    Data out;                  // encrypted bytes OpenSSL wrote, from `outSent` on not yet sent
    size_t outSent = 0;
    size_t writeCachedLength = 0;
    int errCode = 0;
    int lastHandshakeError = 0;
    std::string failure;
    bool isServer = false;
    bool manualTrust = false;
    std::optional<bool> trustAnswer;      // the delegate's decision, once it came
    std::optional<TlsTrust> pendingTrust; // what the delegate is asked about
    std::vector<unsigned char> alpn;      // wire format
    Data peerID;
    std::string peerName;
    std::optional<int64_t> handshakeTimeout; // kTlsHandshakeTimeout, when given
};

template <class F> auto AsyncSocket::onQueueSync(F&& f) const {
    if (onSocketQueue()) {
        return f();
    }
    return socketQueue_->sync(f);
}

} // namespace sockets
