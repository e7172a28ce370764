// An asynchronous TCP or unix-domain stream socket with TLS, driven by dispatch queues.
#pragma once

#include "dispatch/Queue.h"
#include "sockets/SocketAddress.h"
#include "sockets/SocketError.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

struct ssl_st;

namespace dispatch {
class ReadSource;
class WriteSource;
class TimerSource;
} // namespace dispatch

namespace sockets {

class AsyncSocket;
class PreBuffer;
struct Packet;
struct ReadPacket;
struct TlsState;

inline constexpr const char* kStreamSocketErrorDomain = "AsyncSocketErrorDomain";
inline constexpr const char* kTlsErrorDomain = "kCFStreamErrorDomainSSL"; // code: a TLS status below
inline constexpr const char* kAsyncSocketException = "AsyncSocketException";

// Codes of kStreamSocketErrorDomain.
enum class StreamError {
    badConfig = 1,
    badParam = 2,
    connectTimeout = 3,
    readTimeout = 4,
    writeTimeout = 5,
    readMaxedOut = 6,
    closed = 7,
    other = 8,
};

// TLS statuses: the codes of kTlsErrorDomain errors. Failures OpenSSL explains carry its text.
namespace tls {
inline constexpr int kProtocol = -9800;          // a handshake or record failure
inline constexpr int kWouldBlock = -9803;        // needs more I/O
inline constexpr int kClosedGraceful = -9805;    // the peer sent its closing alert
inline constexpr int kClosedAbort = -9806;       // the stream ended without one
inline constexpr int kCertChainInvalid = -9807;  // the peer's certificate did not verify
inline constexpr int kPeerBadCert = -9825;       // the delegate refused the peer's certificate
inline constexpr int kPeerAuthCompleted = -9841; // paused for the delegate's trust decision
} // namespace tls

// TLS settings: a dictionary of keys below to values. A number is a bool or an int64_t; an array
// one of the vector types.
using TlsValue = std::variant<bool, int64_t, std::string, Data, std::vector<int64_t>,
                              std::vector<std::string>, std::vector<Data>>;
using TlsSettings = std::map<std::string, TlsValue>;

// bool: act as the server. Otherwise the client.
inline constexpr const char* kTlsIsServer = "kCFStreamSSLIsServer";
// bool, client only: the delegate decides on the server's certificate (socketDidReceiveTrust).
inline constexpr const char* kTlsManuallyEvaluateTrust = "AsyncSocketManuallyEvaluateTrust";
// string: the expected server name, sent as SNI and checked against the certificate. Without it a
// client connected by host name expects that name; one connected to an address checks none.
inline constexpr const char* kTlsPeerName = "kCFStreamSSLPeerName";
// array of Data: first the identity, PEM text with the private key and certificate, or PKCS#12
// (password in kTlsPkcs12Password, none by default); then chain certificates, PEM or DER.
inline constexpr const char* kTlsCertificates = "kCFStreamSSLCertificates";
inline constexpr const char* kTlsPkcs12Password = "AsyncSocketSSLPKCS12Password";
// Data: a client's key for resuming an earlier session with the same peer (process-wide cache).
inline constexpr const char* kTlsPeerID = "AsyncSocketSSLPeerID";
// int: protocol version limits as OpenSSL numbers them (0x0303 TLS 1.2, 0x0304 TLS 1.3); 0 ignored.
inline constexpr const char* kTlsProtocolVersionMin = "AsyncSocketSSLProtocolVersionMin";
inline constexpr const char* kTlsProtocolVersionMax = "AsyncSocketSSLProtocolVersionMax";
// bool: accepted for compatibility; OpenSSL offers neither, so they change nothing.
inline constexpr const char* kTlsSessionOptionFalseStart = "AsyncSocketSSLSessionOptionFalseStart";
inline constexpr const char* kTlsSessionOptionSendOneByteRecord =
    "AsyncSocketSSLSessionOptionSendOneByteRecord";
// array of int: IANA cipher suite numbers (TLS 1.3 suites and older ones alike).
inline constexpr const char* kTlsCipherSuites = "AsyncSocketSSLCipherSuites";
// Data: server Diffie-Hellman parameters, PEM or DER.
inline constexpr const char* kTlsDiffieHellmanParameters = "AsyncSocketSSLDiffieHellmanParameters";
// array of string: application protocols, in order of preference.
inline constexpr const char* kTlsALPN = "AsyncSocketSSLALPN";
// int, seconds: the longest the handshake may take, the delegate's trust decision included; then
// the socket closes with the read time-out error. Negative: no limit. Absent or 0: the time-out
// of the first read or write queued behind the start of TLS (the shorter one, closing with its
// error), or kTlsDefaultHandshakeTimeout when neither has one.
inline constexpr const char* kTlsHandshakeTimeout = "AsyncSocketSSLHandshakeTimeout";
inline constexpr double kTlsDefaultHandshakeTimeout = 30.0;
// Refused: trust is the default verification or the delegate's, nothing in between.
inline constexpr const char* kTlsAllowsAnyRoot = "kCFStreamSSLAllowsAnyRoot";
inline constexpr const char* kTlsAllowsExpiredRoots = "kCFStreamSSLAllowsExpiredRoots";
inline constexpr const char* kTlsValidatesCertificateChain = "kCFStreamSSLValidatesCertificateChain";
inline constexpr const char* kTlsAllowsExpiredCertificates = "kCFStreamSSLAllowsExpiredCertificates";
inline constexpr const char* kTlsLevel = "kCFStreamSSLLevel";

// What the client knows of the server when the delegate is asked to trust it.
struct TlsTrust {
    std::vector<Data> certificates; // DER, the server's own first
    bool verified = false;          // the chain verified against the system's roots
    bool hostMatches = false;       // the certificate names kTlsPeerName (false without one)
    std::string verifyError;        // why it did not verify, else empty
};

// Callbacks of an AsyncSocket, every one optional, called on the delegate queue. A callback
// that answers (a queue, a time-out extension) is asked there and the answer travels back.
class AsyncSocketDelegate {
public:
    virtual ~AsyncSocketDelegate() = default;

    // A listening socket accepted a connection from `address`: the queue for the new socket,
    // or null for a new serial one. Asked in the same task as socketDidAcceptNewSocket.
    virtual dispatch::QueuePtr newSocketQueueForConnection(const Address& address, AsyncSocket& sock);
    // The accepted connection; keep `newSocket`, else it is destroyed and thereby closed.
    virtual void socketDidAcceptNewSocket(AsyncSocket& sock, std::shared_ptr<AsyncSocket> newSocket);
    virtual void socketDidConnectToHost(AsyncSocket& sock, const std::string& host, uint16_t port);
    virtual void socketDidConnectToUrl(AsyncSocket& sock, const std::string& path);
    virtual void socketDidReadData(AsyncSocket& sock, const Data& data, long tag);
    // A read step added `length` bytes; the read is not complete yet.
    virtual void socketDidReadPartialData(AsyncSocket& sock, size_t length, long tag);
    // The read's time-out expired after `elapsed` seconds in all: seconds more, or 0 to close.
    virtual double socketShouldTimeoutRead(AsyncSocket& sock, long tag, double elapsed, size_t bytesDone);
    virtual void socketDidWriteData(AsyncSocket& sock, long tag);
    virtual void socketDidWritePartialData(AsyncSocket& sock, size_t length, long tag);
    virtual double socketShouldTimeoutWrite(AsyncSocket& sock, long tag, double elapsed, size_t bytesDone);
    // The peer ended its stream; the socket stays open for writing (half-duplex only).
    virtual void socketDidCloseReadStream(AsyncSocket& sock);
    virtual void socketDidSecure(AsyncSocket& sock);
    // Manual trust: answer through `completion` (once, from any thread, now or later) and return
    // true. The default returns false: this delegate does not evaluate trust, and the socket closes.
    virtual bool socketDidReceiveTrust(AsyncSocket& sock, const TlsTrust& trust,
                                       std::function<void(bool)> completion);
    // A started socket closed. `sock` is null when the socket closed because it was destroyed.
    // No callback of that connection follows.
    virtual void socketDidDisconnect(AsyncSocket* sock, const std::optional<SocketError>& error);
};

// A stream socket: either a listener or one connection, living on one serial socket queue that is
// its only lock. Every public method may be called from any thread. Getters and the operations
// that answer (accept, connect) hop onto the socket queue synchronously, or run in place on it;
// setters hop asynchronously; reads, writes, startTLS and the disconnect-after requests are always
// queued, also from the socket queue. The delegate is never called from inside the call that
// started the operation.
//
// Reads and writes are served in order, one at a time per direction, once the connection is up;
// requests made before a start (accept, connect) or after a disconnect-after request are dropped.
// Closing drops the current and queued reads and writes without a callback, then reports
// socketDidDisconnect once (only when the socket had been started). The object can be used again
// after a close; its configuration and delegate stay.
//
// Create with make(); destroying the last reference closes it.
class AsyncSocket : public std::enable_shared_from_this<AsyncSocket> {
public:
    enum class SetMode { asynchronously, synchronously };

    // A null socket queue makes a serial queue labelled "AsyncSocket"; a global (concurrent) queue
    // is a programming error. A null delegate queue means no callbacks.
    static std::shared_ptr<AsyncSocket> make(std::weak_ptr<AsyncSocketDelegate> delegate = {},
                                             dispatch::QueuePtr delegateQueue = nullptr,
                                             dispatch::QueuePtr socketQueue = nullptr);
    // Wraps a connected TCP descriptor (IPv4 or IPv6), which it then owns; null with the error
    // otherwise, the descriptor untouched.
    static std::shared_ptr<AsyncSocket> fromConnectedSocketFD(int fd,
                                                              std::weak_ptr<AsyncSocketDelegate> delegate,
                                                              dispatch::QueuePtr delegateQueue,
                                                              dispatch::QueuePtr socketQueue,
                                                              SocketError* error = nullptr);
    ~AsyncSocket();
    AsyncSocket(const AsyncSocket&) = delete;
    AsyncSocket& operator=(const AsyncSocket&) = delete;

    std::shared_ptr<AsyncSocketDelegate> delegate() const;
    dispatch::QueuePtr delegateQueue() const;
    std::pair<std::shared_ptr<AsyncSocketDelegate>, dispatch::QueuePtr> delegateAndQueue() const;
    void setDelegate(std::weak_ptr<AsyncSocketDelegate> delegate, SetMode mode = SetMode::asynchronously);
    void setDelegateQueue(dispatch::QueuePtr queue, SetMode mode = SetMode::asynchronously);
    void setDelegate(std::weak_ptr<AsyncSocketDelegate> delegate, dispatch::QueuePtr queue,
                     SetMode mode = SetMode::asynchronously);

    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool enabled);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool enabled);
    bool isIPv4PreferredOverIPv6() const;
    void setIPv4PreferredOverIPv6(bool preferred);
    // Seconds before the second family joins a connect race (0.3 by default).
    double alternateAddressDelay() const;
    void setAlternateAddressDelay(double seconds);
    // True (default): the peer's end of stream closes the socket. False: half-duplex.
    bool autoDisconnectOnClosedReadStream() const;
    void setAutoDisconnectOnClosedReadStream(bool flag);
    std::shared_ptr<void> userData() const;
    void setUserData(std::shared_ptr<void> data);

    bool isDisconnected() const; // not started: a listener is not disconnected
    bool isConnected() const;
    bool isIPv4() const;
    bool isIPv6() const;
    bool isSecure() const;

    // The peer and local ends: of the IPv4 descriptor, else the IPv6 one; "" and 0 otherwise.
    std::string connectedHost() const;
    uint16_t connectedPort() const;
    std::string connectedUrl() const; // unix-domain peer path, else ""
    std::string localHost() const;
    uint16_t localPort() const;
    Address connectedAddress() const;
    Address localAddress() const;

    // Descriptors and the TLS session: -1 or null when absent or not called on the socket queue.
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;
    ssl_st* sslContext() const;
    // Runs `block` on the socket queue and waits (in place when already there).
    void performBlock(const std::function<void()>& block);
    // Code running on `queue` (which the socket queue targets) counts as on the socket queue.
    void markSocketQueueTargetQueue(const dispatch::QueuePtr& queue);
    void unmarkSocketQueueTargetQueue(const dispatch::QueuePtr& queue);

    // Listening. A null interface listens on every address; "localhost" and "loopback" on the
    // loopback ones; else an interface name or address text, optionally followed by ":port" used
    // when `port` is 0. Port 0 with both families gives both the port the system chose for IPv4.
    bool acceptOnPort(uint16_t port, SocketError* error = nullptr);
    bool acceptOnInterface(const std::optional<std::string>& interface, uint16_t port,
                           SocketError* error = nullptr);
    // A unix-domain listener at `path`; a file already there is replaced.
    bool acceptOnUrl(const std::string& path, SocketError* error = nullptr);

    // Connecting: true when started (the outcome arrives as socketDidConnectToHost/Url or
    // socketDidDisconnect), false with the error otherwise. A negative time-out means none; it
    // covers the host lookup too. Hosts with both families race: the preferred one at once, the
    // other after alternateAddressDelay; the first connection up wins.
    bool connectToHost(const std::string& host, uint16_t port, double timeout = -1,
                       SocketError* error = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, const std::optional<std::string>& interface,
                       double timeout, SocketError* error = nullptr);
    bool connectToAddress(const Address& address, double timeout = -1, SocketError* error = nullptr);
    bool connectToAddress(const Address& address, const std::optional<std::string>& interface, double timeout,
                          SocketError* error = nullptr);
    bool connectToUrl(const std::string& path, double timeout = -1, SocketError* error = nullptr);
    // A resolved network service: each address in turn until one connect starts; false with the
    // last refusal when none does.
    bool connectToAddresses(const std::vector<Address>& addresses, SocketError* error = nullptr);

    // Reads. Each returns at once and ends in socketDidReadData with the same tag (after any
    // socketDidReadPartialData), unless the socket closes first. A given buffer receives the bytes
    // from `offset` on and grows as needed; the socket holds it until the read completes, and the
    // delegate gets a copy of the bytes read. A negative time-out means none.
    // Read-all: whatever is available, at most `maxLength` bytes (0: no limit).
    void readData(double timeout, long tag);
    void readData(double timeout, std::shared_ptr<Data> buffer, size_t offset, size_t maxLength, long tag);
    // Exactly `length` bytes (0 is ignored).
    void readDataToLength(size_t length, double timeout, long tag, std::shared_ptr<Data> buffer = nullptr,
                          size_t offset = 0);
    // Up to and including `terminator` (empty is ignored). With a maximum (0: none, else at least
    // the terminator's length), reaching it without the terminator closes with readMaxedOut.
    void readDataToData(Data terminator, double timeout, long tag, size_t maxLength = 0,
                        std::shared_ptr<Data> buffer = nullptr, size_t offset = 0);
    // Takes the bytes over; ends in socketDidWriteData (after any socketDidWritePartialData).
    // Empty data is ignored. The shared form keeps the caller's bytes without copying them: they
    // must not change until the write is reported.
    void writeData(Data data, double timeout, long tag);
    void writeData(std::shared_ptr<const Data> data, double timeout, long tag);
    // Progress of the current read or write: done / total (1 for reads without a fixed length),
    // NaN with zero outputs when there is none.
    float progressOfRead(long* tag = nullptr, size_t* done = nullptr, size_t* total = nullptr) const;
    float progressOfWrite(long* tag = nullptr, size_t* done = nullptr, size_t* total = nullptr) const;

    // Upgrades to TLS at this point of both queues: what was queued before travels in the clear,
    // what follows encrypted. Ends in socketDidSecure, or a close. Asked twice, the second is ignored.
    void startTLS(TlsSettings settings = {});

    // Closes now (only a started socket reports socketDidDisconnect), or once the queued reads,
    // writes or both are done; new requests are dropped from the call on.
    void disconnect();
    void disconnectAfterReading();
    void disconnectAfterWriting();
    void disconnectAfterReadingAndWriting();

    // Utilities. lookupHost answers the addresses of both families in the resolver's order.
    static std::vector<Address> lookupHost(const std::string& host, uint16_t port,
                                           SocketError* error = nullptr);
    static Data CRLFData();
    static Data CRData();
    static Data LFData();
    static Data ZeroData();

private:
    AsyncSocket(std::weak_ptr<AsyncSocketDelegate> delegate, dispatch::QueuePtr delegateQueue,
                dispatch::QueuePtr socketQueue);

    bool onSocketQueue() const;
    template <class F> auto onQueueSync(F&& f) const;
    void onQueueAsync(std::function<void(AsyncSocket&)> f);
    void postToQueue(std::function<void(AsyncSocket&)> f);
    // Posts `call` to the delegate queue with the delegate and this socket held strongly.
    void notify(std::function<void(AsyncSocketDelegate&, AsyncSocket&)> call);

    void closeWithError(std::optional<SocketError> error);
    void maybeClose();
    void disconnectAfter(uint32_t bits);
    int connectedFD() const;

    bool checkDelegate(const char* verb, SocketError* error) const;
    bool checkIdle(const char* verb, SocketError* error) const;
    bool resolveInterface(const std::optional<std::string>& interface, uint16_t port,
                          InterfaceAddresses* addresses, SocketError* error) const;
    // Accepting.
    int createListeningSocket(const Address& address, SocketError* error);
    void setupAcceptSource(int fd, std::shared_ptr<dispatch::ReadSource>& slot);
    bool isListeningOn(int fd) const;
    bool doAccept(int listenFD);
    // Connecting.
    bool preConnect(const std::optional<std::string>& interface, SocketError* error);
    bool connectWithAddresses(const Address& a4, const Address& a6, SocketError* error);
    int createSocket(int family, const Address& interface, SocketError* error);
    void connectSocket(int fd, const Address& address, uint64_t generation);
    void onConnectEvent(int fd, uint64_t generation);
    void connectFailed(int fd, uint64_t generation, int error);
    void closeSocket(int fd);
    void closeUnusedSocket(int fd);
    void didConnect(uint64_t generation);
    void didNotConnect(uint64_t generation, SocketError error);
    void startConnectTimeout(double timeout);
    void endConnectTimeout();
    // Reading and writing.
    void setupReadAndWriteSources(int fd);
    void suspendReadSource();
    void resumeReadSource();
    void suspendWriteSource();
    void resumeWriteSource();
    void queueRead(std::shared_ptr<ReadPacket> packet);
    void queueRequest(std::shared_ptr<Packet> packet, bool toReads, bool toWrites);
    void maybeDequeueRead();
    void doReadData();
    void doReadEOF();
    void completeCurrentRead();
    void endCurrentRead();
    void setupReadTimer(double timeout);
    void doReadTimeout();
    void doReadTimeoutWithExtension(double extension);
    void maybeDequeueWrite();
    void doWriteData();
    void completeCurrentWrite();
    void endCurrentWrite();
    void setupWriteTimer(double timeout);
    void doWriteTimeout();
    void doWriteTimeoutWithExtension(double extension);
    // TLS.
    void maybeStartTLS();
    void startTLSNow();
    void continueHandshake();
    void shouldTrustPeer(bool trust, uint64_t generation);
    void updateHandshakeTimeout();
    void endHandshakeTimeout();
    bool isHandshaking() const;
    void flushSSLBuffers();
    void closeTLS();
    size_t tlsBufferedBytes() const;

    friend struct TlsState;

    // Everything below is touched on the socket queue only.
    uint32_t flags_ = 0;
    uint16_t config_ = 0;
    std::weak_ptr<AsyncSocketDelegate> delegate_;
    dispatch::QueuePtr delegateQueue_;
    int socket4FD_ = -1;
    int socket6FD_ = -1;
    int socketUN_ = -1;
    std::string socketPath_; // of a unix-domain listener
    uint64_t stateIndex_ = 0;
    Address connectInterface4_;
    Address connectInterface6_;
    Address connectInterfaceUN_;
    std::string connectHostName_; // the host name connectToHost was given; "" for an address
    dispatch::QueuePtr socketQueue_;
    std::shared_ptr<dispatch::ReadSource> accept4Source_;
    std::shared_ptr<dispatch::ReadSource> accept6Source_;
    std::shared_ptr<dispatch::ReadSource> acceptUNSource_;
    std::shared_ptr<dispatch::WriteSource> connect4Source_; // readiness of a connect in progress
    std::shared_ptr<dispatch::WriteSource> connect6Source_;
    std::shared_ptr<dispatch::WriteSource> connectUNSource_;
    std::shared_ptr<dispatch::TimerSource> connectTimer_;
    std::shared_ptr<dispatch::ReadSource> readSource_;
    std::shared_ptr<dispatch::WriteSource> writeSource_;
    std::shared_ptr<dispatch::TimerSource> readTimer_;
    std::shared_ptr<dispatch::TimerSource> writeTimer_;
    // Entries are read packets, write packets or the start-TLS marker (both queues hold it).
    std::deque<std::shared_ptr<Packet>> readQueue_;
    std::deque<std::shared_ptr<Packet>> writeQueue_;
    std::shared_ptr<Packet> currentRead_;
    std::shared_ptr<Packet> currentWrite_;
    uint64_t socketFDBytesAvailable_ = 0;
    std::unique_ptr<PreBuffer> preBuffer_;
    std::unique_ptr<TlsState> tls_;
    std::shared_ptr<dispatch::TimerSource> handshakeTimer_; // armed while the handshake runs
    dispatch::Clock::time_point handshakeStarted_{};
    std::shared_ptr<void> userData_;
    double alternateAddressDelay_ = 0.3;
    // Its address is the socket queue's specific key; the value is the socket.
    char isOnSocketQueueOrTargetQueueKey_ = 0;
};

} // namespace sockets
