// The stream socket's TLS: settings, handshake, manual trust, and OpenSSL's I/O through our BIO.
#include "sockets/AsyncSocketPrivate.h"

#include "base/Log.h"
#include "dispatch/Source.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sockets {

using namespace stream;

namespace {

// A socket's queue may still be closing its TLS connection while the process exits: OpenSSL's own
// exit-time cleanup would free its locks under that thread. Told before anything else in the
// process uses OpenSSL (a constructor with a priority runs before every plain static
// initialiser), it leaves them for the process's end.
[[gnu::constructor(101)]] void keepOpenSslUntilTheEnd() {
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
}

// The text of OpenSSL's error queue, oldest first; the queue is left empty.
std::string openSslErrors() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        text += text.empty() ? "" : "; ";
        text += line;
    }
    return text;
}

int tlsStateIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

TlsState* stateOf(SSL* ssl) {
    return static_cast<TlsState*>(SSL_get_ex_data(ssl, tlsStateIndex()));
}

// Sessions to resume, by the caller's peer identifier. Process-wide, like the platform's cache.
struct SessionCache {
    std::mutex mutex;
    std::map<std::string, SSL_SESSION*> sessions; // keyed by the identifier's bytes

    static SessionCache& shared() {
        static auto* cache = new SessionCache; // outlives every socket
        return *cache;
    }
    void store(const Data& peerID, SSL_SESSION* session) {
        std::lock_guard lock(mutex);
        SSL_SESSION*& slot = sessions[std::string(peerID.begin(), peerID.end())];
        if (slot != nullptr) {
            SSL_SESSION_free(slot);
        }
        slot = session;
    }
    // A new reference, or null.
    SSL_SESSION* find(const Data& peerID) {
        std::lock_guard lock(mutex);
        auto it = sessions.find(std::string(peerID.begin(), peerID.end()));
        if (it == sessions.end() || SSL_SESSION_up_ref(it->second) != 1) {
            return nullptr;
        }
        return it->second;
    }
};

int onNewSession(SSL* ssl, SSL_SESSION* session) {
    TlsState* state = stateOf(ssl);
    if (state == nullptr || state->peerID.empty()) {
        return 0;
    }
    SessionCache::shared().store(state->peerID, session);
    return 1; // the cache keeps the reference
}

// An address in text, without an IPv6 zone ("fe80::1%lo" gives "fe80::1"); nullopt for a name.
std::optional<std::string> addressText(const std::string& name) {
    const std::string bare = name.substr(0, name.find('%'));
    unsigned char buffer[sizeof(in6_addr)];
    if (::inet_pton(AF_INET, bare.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, bare.c_str(), buffer) == 1) {
        return bare;
    }
    return std::nullopt;
}

// Whether the certificate names the peer: an address among its IP entries, a name among its DNS
// names (or its common name when it has none).
bool namesPeer(X509* certificate, const std::string& peer) {
    if (peer.empty()) {
        return false;
    }
    if (const auto address = addressText(peer)) {
        return X509_check_ip_asc(certificate, address->c_str(), 0) == 1;
    }
    return X509_check_host(certificate, peer.c_str(), peer.size(), 0, nullptr) == 1;
}

// Client verification: the system's roots and the peer name, or, with manual trust, a pause that
// hands the decision to the delegate; the retried handshake then asks again and gets the answer.
int verifyCertificate(X509_STORE_CTX* store, void*) {
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TlsState* state = ssl ? stateOf(ssl) : nullptr;
    if (state == nullptr || !state->manualTrust) {
        return X509_verify_cert(store);
    }
    if (state->trustAnswer) {
        return *state->trustAnswer ? 1 : 0;
    }
    TlsTrust trust;
    auto addDer = [&trust](X509* cert) {
        unsigned char* der = nullptr;
        const int length = i2d_X509(cert, &der);
        if (length > 0) {
            trust.certificates.emplace_back(der, der + length);
        }
        OPENSSL_free(der);
    };
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (leaf != nullptr) {
        addDer(leaf);
        trust.hostMatches = namesPeer(leaf, state->peerName);
    }
    if (STACK_OF(X509)* chain = X509_STORE_CTX_get0_untrusted(store)) {
        for (int i = 0; i < sk_X509_num(chain); ++i) {
            if (X509* cert = sk_X509_value(chain, i); cert != leaf) {
                addDer(cert);
            }
        }
    }
    trust.verified = X509_verify_cert(store) == 1;
    if (!trust.verified) {
        trust.verifyError = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    }
    ERR_clear_error();
    state->pendingTrust = std::move(trust);
    return SSL_set_retry_verify(ssl);
}

int selectAlpn(SSL* ssl, const unsigned char** out, unsigned char* outLength, const unsigned char* offered,
               unsigned int offeredLength, void*) {
    TlsState* state = stateOf(ssl);
    if (state == nullptr || state->alpn.empty()) {
        return SSL_TLSEXT_ERR_NOACK;
    }
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, outLength, state->alpn.data(),
                              static_cast<unsigned>(state->alpn.size()), offered,
                              offeredLength) != OPENSSL_NPN_NEGOTIATED) {
        return SSL_TLSEXT_ERR_ALERT_FATAL;
    }
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

// The system's roots, looked up by subject hash in its certificate folder (a file lookup per
// certificate asked for). OpenSSL's default paths would also add a store loader that reads and
// decodes every file of that folder on each lookup: milliseconds per handshake.
void useSystemRoots(SSL_CTX* ctx) {
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    const char* dir = std::getenv(X509_get_default_cert_dir_env());
    X509_STORE_load_path(store, dir != nullptr ? dir : X509_get_default_cert_dir());
    if (const char* file = std::getenv(X509_get_default_cert_file_env())) {
        X509_STORE_load_file(store, file);
    }
    ERR_clear_error();
}

// One context per side for the whole process: it holds the roots, the session-ticket keys of the
// server (so resumption works across connections) and the callbacks; each connection sets its own
// certificates and limits on its SSL object.
SSL_CTX* sharedContext(bool server) {
    static SSL_CTX* const contexts[2] = {
        [] {
            SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
            useSystemRoots(ctx);
            SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
            SSL_CTX_set_cert_verify_callback(ctx, verifyCertificate, nullptr);
            SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
            SSL_CTX_sess_set_new_cb(ctx, onNewSession);
            SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
            return ctx;
        }(),
        [] {
            SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
            SSL_CTX_set_alpn_select_cb(ctx, selectAlpn, nullptr);
            SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
            return ctx;
        }()};
    return contexts[server ? 1 : 0];
}

// The BIO between OpenSSL and the socket: reads take the encrypted read-ahead, then the
// descriptor; writes go to the descriptor. Both tell OpenSSL to retry when they would block.
int bioRead(BIO* bio, char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    auto* state = static_cast<TlsState*>(BIO_get_data(bio));
    size_t delivered = 0;
    const int status =
        state->socketRead(reinterpret_cast<uint8_t*>(buffer), static_cast<size_t>(length), &delivered);
    if (delivered > 0) {
        return static_cast<int>(delivered);
    }
    if (status == tls::kWouldBlock) {
        BIO_set_retry_read(bio);
        return -1;
    }
    return 0; // the end of the stream, or a failure: OpenSSL sees an unexpected end
}

// Beyond this much waiting to be sent, OpenSSL is told to retry: memory stays bounded.
constexpr size_t kOutLimit = 64 * 1024;

int bioWrite(BIO* bio, const char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    auto* state = static_cast<TlsState*>(BIO_get_data(bio));
    if (state->pendingOut() >= kOutLimit) {
        if (state->flushOut() == tls::kClosedAbort) {
            return -1;
        }
        if (state->pendingOut() >= kOutLimit) {
            BIO_set_retry_write(bio);
            return -1;
        }
    }
    state->appendOut(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(length));
    return length;
}

long bioControl(BIO* bio, int command, long, void*) {
    if (command != BIO_CTRL_FLUSH) {
        return 0;
    }
    BIO_clear_retry_flags(bio);
    const int status = static_cast<TlsState*>(BIO_get_data(bio))->flushOut();
    if (status == tls::kWouldBlock) {
        BIO_set_retry_write(bio);
    }
    return status == 0 ? 1 : 0;
}

BIO_METHOD* bioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "AsyncSocket");
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_ctrl(m, bioControl);
        BIO_meth_set_create(m, [](BIO* b) {
            BIO_set_init(b, 1);
            return 1;
        });
        return m;
    }();
    return method;
}

int mapFailure(SSL* ssl, int result, std::string* failure) {
    switch (SSL_get_error(ssl, result)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return tls::kWouldBlock;
    case SSL_ERROR_WANT_RETRY_VERIFY:
        return tls::kPeerAuthCompleted;
    case SSL_ERROR_ZERO_RETURN:
        return tls::kClosedGraceful;
    case SSL_ERROR_SYSCALL:
        ERR_clear_error();
        return tls::kClosedAbort;
    default: {
        const unsigned long first = ERR_peek_error();
        if (ERR_GET_REASON(first) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            ERR_clear_error();
            return tls::kClosedAbort;
        }
        *failure = openSslErrors();
        const long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK) {
            *failure += std::string(failure->empty() ? "" : ": ") + X509_verify_cert_error_string(verify);
            return tls::kCertChainInvalid;
        }
        return tls::kProtocol;
    }
    }
}

// Settings values: numbers are bools or integers, arrays any of the vector types.
bool isNumber(const TlsValue& v) {
    return std::holds_alternative<bool>(v) || std::holds_alternative<int64_t>(v);
}
int64_t numberOf(const TlsValue& v) {
    return std::holds_alternative<bool>(v) ? int64_t{std::get<bool>(v)} : std::get<int64_t>(v);
}
bool isArray(const TlsValue& v) {
    return std::holds_alternative<std::vector<int64_t>>(v) ||
           std::holds_alternative<std::vector<std::string>>(v) ||
           std::holds_alternative<std::vector<Data>>(v);
}

struct PemOrDer {
    PemOrDer() = default;
    PemOrDer(const PemOrDer&) = delete;
    PemOrDer& operator=(const PemOrDer&) = delete;
    std::vector<X509*> certificates;
    EVP_PKEY* key = nullptr;
    ~PemOrDer() {
        for (X509* c : certificates) {
            X509_free(c);
        }
        EVP_PKEY_free(key);
    }
};

bool decodeCredentials(const Data& data, const std::string& password, PemOrDer* out);

// Decoded credentials by their bytes: a server uses the same identity for every connection, and
// OpenSSL's decoders cost more than the rest of a handshake's set-up.
struct CredentialCache {
    std::mutex mutex;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<PemOrDer>> entries;

    static CredentialCache& shared() {
        static auto* cache = new CredentialCache;
        return *cache;
    }
    std::shared_ptr<const PemOrDer> find(const Data& data, const std::string& password) {
        std::lock_guard lock(mutex);
        auto key = std::make_pair(std::string(data.begin(), data.end()), password);
        if (auto it = entries.find(key); it != entries.end()) {
            return it->second;
        }
        auto decoded = std::make_shared<PemOrDer>();
        if (!decodeCredentials(data, password, decoded.get())) {
            return nullptr;
        }
        if (entries.size() >= 16) {
            entries.clear(); // a handful of identities at most in practice
        }
        entries.emplace(std::move(key), decoded);
        return decoded;
    }
};

// Certificates and a key from PEM text, a DER certificate, or PKCS#12.
bool decodeCredentials(const Data& data, const std::string& password, PemOrDer* out) {
    BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (infos != nullptr) {
        for (int i = 0; i < sk_X509_INFO_num(infos); ++i) {
            X509_INFO* info = sk_X509_INFO_value(infos, i);
            if (info->x509 != nullptr) {
                X509_up_ref(info->x509);
                out->certificates.push_back(info->x509);
            }
            if (info->x_pkey != nullptr && info->x_pkey->dec_pkey != nullptr && out->key == nullptr) {
                EVP_PKEY_up_ref(info->x_pkey->dec_pkey);
                out->key = info->x_pkey->dec_pkey;
            }
        }
        sk_X509_INFO_pop_free(infos, X509_INFO_free);
        if (!out->certificates.empty() || out->key != nullptr) {
            ERR_clear_error();
            return true;
        }
    }
    ERR_clear_error();
    const unsigned char* p = data.data();
    if (X509* cert = d2i_X509(nullptr, &p, static_cast<long>(data.size()))) {
        out->certificates.push_back(cert);
        return true;
    }
    p = data.data();
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(data.size()));
    if (p12 == nullptr) {
        return false;
    }
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    const bool ok = PKCS12_parse(p12, password.c_str(), &out->key, &cert, &chain) == 1;
    PKCS12_free(p12);
    if (cert != nullptr) {
        out->certificates.push_back(cert);
    }
    for (int i = 0; chain != nullptr && i < sk_X509_num(chain); ++i) {
        out->certificates.push_back(sk_X509_value(chain, i));
    }
    sk_X509_free(chain);
    return ok;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TlsState

TlsState::~TlsState() {
    reset();
}

void TlsState::reset() {
    if (ssl != nullptr) {
        if (SSL_is_init_finished(ssl)) {
            SSL_shutdown(ssl); // our closing alert, sent when the descriptor takes it
            flushOut();
        }
        SSL_free(ssl);
        ssl = nullptr;
        ERR_clear_error();
    }
    preBuffer.reset();
    out.clear();
    outSent = 0;
    writeCachedLength = 0;
    errCode = 0;
    lastHandshakeError = 0;
    failure.clear();
    manualTrust = false;
    trustAnswer.reset();
    pendingTrust.reset();
    peerID.clear();
    peerName.clear();
    alpn.clear();
    handshakeTimeout.reset();
}

int TlsState::handshake() {
    failure.clear();
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl);
    flushOut();
    return result == 1 ? 0 : mapFailure(ssl, result, &failure);
}

// OpenSSL may write while reading (a key update, a ticket): that leaves at once too.
int TlsState::read(uint8_t* buffer, size_t length, size_t* processed) {
    *processed = 0;
    ERR_clear_error();
    const int result = SSL_read_ex(ssl, buffer, length, processed);
    flushOut();
    return result == 1 ? 0 : mapFailure(ssl, 0, &failure);
}

// Accepted bytes are OpenSSL's to send: what the descriptor does not take now waits in `out`,
// and the write side sends it when there is room.
int TlsState::write(const uint8_t* buffer, size_t length, size_t* processed) {
    *processed = 0;
    ERR_clear_error();
    if (SSL_write_ex(ssl, buffer, length, processed) != 1) {
        return mapFailure(ssl, 0, &failure);
    }
    return flushOut() == tls::kClosedAbort ? tls::kClosedAbort : 0;
}

void TlsState::appendOut(const uint8_t* bytes, size_t length) {
    if (outSent > 0) {
        out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(outSent));
        outSent = 0;
    }
    out.insert(out.end(), bytes, bytes + length);
}

int TlsState::flushOut() {
    while (pendingOut() > 0) {
        size_t sent = 0;
        const int status = socketWrite(out.data() + outSent, pendingOut(), &sent);
        outSent += sent;
        if (status != 0 && sent == 0) {
            return status;
        }
    }
    out.clear();
    outSent = 0;
    return 0;
}

size_t TlsState::bufferedReadSize() const {
    return ssl != nullptr ? static_cast<size_t>(SSL_pending(ssl)) : 0;
}

int TlsState::socketRead(uint8_t* buffer, size_t length, size_t* delivered) {
    AsyncSocket& s = socket;
    *delivered = 0;
    if (s.socketFDBytesAvailable_ == 0 && preBuffer.availableBytes() == 0) {
        s.resumeReadSource();
        return tls::kWouldBlock;
    }
    const size_t buffered = std::min(length, preBuffer.availableBytes());
    if (buffered > 0) {
        std::memcpy(buffer, preBuffer.readBuffer(), buffered);
        preBuffer.didRead(buffered);
        *delivered = buffered;
        if (buffered == length) {
            return 0;
        }
    }
    if (s.socketFDBytesAvailable_ == 0) {
        return tls::kWouldBlock;
    }
    const size_t wanted = length - buffered;
    const bool readAhead = s.socketFDBytesAvailable_ > wanted;
    uint8_t* target = buffer + buffered;
    size_t room = wanted;
    if (readAhead) {
        preBuffer.ensureCapacityForWrite(s.socketFDBytesAvailable_);
        target = preBuffer.writeBuffer();
        room = s.socketFDBytesAvailable_;
    }
    ssize_t r = 0;
    do {
        r = ::read(s.connectedFD(), target, room);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
        const bool wouldBlock = r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        s.socketFDBytesAvailable_ = 0;
        return wouldBlock ? tls::kWouldBlock : tls::kClosedAbort;
    }
    const auto got = static_cast<size_t>(r);
    s.socketFDBytesAvailable_ -= std::min<uint64_t>(s.socketFDBytesAvailable_, got);
    size_t handed = got;
    if (readAhead) {
        preBuffer.didWrite(got);
        handed = std::min(wanted, got);
        std::memcpy(buffer + buffered, preBuffer.readBuffer(), handed);
        preBuffer.didRead(handed);
    }
    *delivered += handed;
    return *delivered == length ? 0 : tls::kWouldBlock;
}

int TlsState::socketWrite(const uint8_t* buffer, size_t length, size_t* sent) {
    AsyncSocket& s = socket;
    *sent = 0;
    if (!(s.flags_ & kFlagCanWrite)) {
        s.resumeWriteSource();
        return tls::kWouldBlock;
    }
    ssize_t r = 0;
    do {
        r = ::send(s.connectedFD(), buffer, length, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
        s.flags_ &= ~kFlagCanWrite;
        if (r == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            s.resumeWriteSource(); // the handshake may wait on this flight, not on the peer
            return tls::kWouldBlock;
        }
        return tls::kClosedAbort;
    }
    *sent = static_cast<size_t>(r);
    return *sent == length ? 0 : tls::kWouldBlock;
}

// ---------------------------------------------------------------------------------------------
// The socket's TLS steps

void AsyncSocket::startTLS(TlsSettings settings) {
    queueRequest(std::make_shared<SpecialPacket>(std::move(settings)), /*toReads=*/true, /*toWrites=*/true);
}

ssl_st* AsyncSocket::sslContext() const {
    return onSocketQueue() ? tls_->ssl : nullptr;
}

size_t AsyncSocket::tlsBufferedBytes() const {
    return tls_->preBuffer.availableBytes() + tls_->bufferedReadSize();
}

void AsyncSocket::closeTLS() {
    endHandshakeTimeout();
    tls_->reset();
}

void AsyncSocket::maybeStartTLS() {
    if ((flags_ & kFlagReadSideAtTLS) && (flags_ & kFlagWriteSideAtTLS)) {
        startTLSNow();
    }
}

namespace {

// A settings problem: the short text closes the socket; the long one, for a caller's mistake,
// is logged first.
struct SettingsFailure {
    std::string text;
    std::string detail; // OpenSSL's words, when it refused
};

// The name a client expects the server's certificate to carry, also sent as SNI; an address is
// checked against the certificate's IP entries and never sent as SNI (names only there).
bool setPeerName(TlsState& tls, const std::string& name) {
    tls.peerName = name;
    if (tls.isServer) {
        return true;
    }
    if (const auto address = addressText(name)) {
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls.ssl), address->c_str()) == 1;
    }
    return SSL_set_tlsext_host_name(tls.ssl, name.c_str()) == 1 && SSL_set1_host(tls.ssl, name.c_str()) == 1;
}

// `hostName`: the name the socket connected to, expected when the settings name no peer.
std::optional<SettingsFailure> applySettings(TlsState& tls, const TlsSettings& settings,
                                             const std::string& hostName) {
    SSL* ssl = tls.ssl;
    auto find = [&settings](const char* key) -> const TlsValue* {
        auto it = settings.find(key);
        return it == settings.end() ? nullptr : &it->second;
    };
    auto wrongType = [](const char* key, const char* type) -> SettingsFailure {
        const std::string text = std::string("Invalid value for ") + key + ".";
        base::log(text + " Value must be of type " + type + ".");
        return {text, {}};
    };

    if (const TlsValue* v = find(kTlsManuallyEvaluateTrust); v && isNumber(*v) && numberOf(*v) != 0) {
        if (tls.isServer) {
            return SettingsFailure{"Manual trust validation is not supported for server sockets", {}};
        }
        tls.manualTrust = true;
    }
    const TlsValue* peerName = find(kTlsPeerName);
    if (peerName != nullptr && !std::holds_alternative<std::string>(*peerName)) {
        return wrongType(kTlsPeerName, "NSString");
    }
    const std::string& expected = peerName != nullptr ? std::get<std::string>(*peerName) : hostName;
    if ((peerName != nullptr || !hostName.empty()) && !setPeerName(tls, expected)) {
        return SettingsFailure{"Error in SSLSetPeerDomainName", openSslErrors()};
    }
    if (const TlsValue* v = find(kTlsCertificates)) {
        if (!isArray(*v)) {
            return wrongType(kTlsCertificates, "NSArray");
        }
        const auto* items = std::get_if<std::vector<Data>>(v);
        std::string password;
        if (const TlsValue* p = find(kTlsPkcs12Password); p && std::holds_alternative<std::string>(*p)) {
            password = std::get<std::string>(*p);
        }
        auto& cache = CredentialCache::shared();
        auto identity = items != nullptr && !items->empty() ? cache.find(items->front(), password) : nullptr;
        bool ok = identity != nullptr && identity->key != nullptr && !identity->certificates.empty() &&
                  SSL_use_certificate(ssl, identity->certificates.front()) == 1 &&
                  SSL_use_PrivateKey(ssl, identity->key) == 1 && SSL_check_private_key(ssl) == 1;
        for (size_t i = 1; ok && i < identity->certificates.size(); ++i) {
            ok = SSL_add1_chain_cert(ssl, identity->certificates[i]) == 1;
        }
        for (size_t i = 1; ok && i < items->size(); ++i) {
            auto chain = cache.find((*items)[i], password);
            ok = chain != nullptr;
            for (size_t c = 0; ok && c < chain->certificates.size(); ++c) {
                ok = SSL_add1_chain_cert(ssl, chain->certificates[c]) == 1;
            }
        }
        if (!ok) {
            return SettingsFailure{"Error in SSLSetCertificate", openSslErrors()};
        }
    }
    if (const TlsValue* v = find(kTlsPeerID)) {
        if (!std::holds_alternative<Data>(*v)) {
            base::log(
                "Invalid value for AsyncSocketSSLPeerID. Value must be of type NSData. (You can convert "
                "strings to data using a method like [string dataUsingEncoding:NSUTF8StringEncoding])");
            return SettingsFailure{"Invalid value for AsyncSocketSSLPeerID.", {}};
        }
        tls.peerID = std::get<Data>(*v);
        if (!tls.isServer && !tls.peerID.empty()) {
            if (SSL_SESSION* session = SessionCache::shared().find(tls.peerID)) {
                const bool ok = SSL_set_session(ssl, session) == 1;
                SSL_SESSION_free(session);
                if (!ok) {
                    return SettingsFailure{"Error in SSLSetPeerID", openSslErrors()};
                }
            }
        }
    }
    for (const char* key : {kTlsProtocolVersionMin, kTlsProtocolVersionMax}) {
        const TlsValue* v = find(key);
        if (!v) {
            continue;
        }
        if (!isNumber(*v)) {
            return wrongType(key, "NSNumber");
        }
        const auto version = static_cast<int>(numberOf(*v));
        const bool isMin = key == kTlsProtocolVersionMin;
        if (version != 0 && (isMin ? SSL_set_min_proto_version(ssl, version)
                                   : SSL_set_max_proto_version(ssl, version)) != 1) {
            return SettingsFailure{isMin ? "Error in SSLSetProtocolVersionMin"
                                         : "Error in SSLSetProtocolVersionMax",
                                   openSslErrors()};
        }
    }
    for (const char* key : {kTlsSessionOptionFalseStart, kTlsSessionOptionSendOneByteRecord}) {
        if (const TlsValue* v = find(key); v && !isNumber(*v)) {
            return wrongType(key, "NSNumber");
        }
    }
    if (const TlsValue* v = find(kTlsCipherSuites)) {
        if (!isArray(*v)) {
            return wrongType(kTlsCipherSuites, "NSArray");
        }
        std::string tls13;
        std::string older;
        const auto* numbers = std::get_if<std::vector<int64_t>>(v);
        bool ok = numbers != nullptr;
        for (size_t i = 0; ok && i < numbers->size(); ++i) {
            const auto id = static_cast<uint16_t>((*numbers)[i]);
            const unsigned char bytes[2] = {static_cast<unsigned char>(id >> 8),
                                            static_cast<unsigned char>(id & 0xff)};
            const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, bytes);
            ok = cipher != nullptr;
            if (ok) {
                const std::string name = SSL_CIPHER_get_name(cipher);
                std::string& list = name.rfind("TLS_", 0) == 0 ? tls13 : older;
                list += (list.empty() ? "" : ":") + name;
            }
        }
        ok = ok && SSL_set_ciphersuites(ssl, tls13.c_str()) == 1;
        if (ok && older.empty()) {
            ok = SSL_set_min_proto_version(ssl, TLS1_3_VERSION) == 1; // no suite left below TLS 1.3
        } else if (ok) {
            ok = SSL_set_cipher_list(ssl, older.c_str()) == 1;
        }
        if (!ok) {
            return SettingsFailure{"Error in SSLSetEnabledCiphers", openSslErrors()};
        }
    }
    if (const TlsValue* v = find(kTlsDiffieHellmanParameters)) {
        if (!std::holds_alternative<Data>(*v)) {
            return wrongType(kTlsDiffieHellmanParameters, "NSData");
        }
        const Data& data = std::get<Data>(*v);
        BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
        EVP_PKEY* params = PEM_read_bio_Parameters(bio, nullptr);
        BIO_free(bio);
        if (params == nullptr) {
            const unsigned char* p = data.data();
            params = d2i_KeyParams(EVP_PKEY_DH, nullptr, &p, static_cast<long>(data.size()));
        }
        if (params == nullptr || SSL_set0_tmp_dh_pkey(ssl, params) != 1) {
            EVP_PKEY_free(params);
            return SettingsFailure{"Error in SSLSetDiffieHellmanParams", openSslErrors()};
        }
    }
    if (const TlsValue* v = find(kTlsALPN)) {
        if (!isArray(*v)) {
            return wrongType(kTlsALPN, "NSArray");
        }
        const auto* names = std::get_if<std::vector<std::string>>(v);
        bool ok = names != nullptr;
        for (size_t i = 0; ok && i < names->size(); ++i) {
            const std::string& name = (*names)[i];
            ok = !name.empty() && name.size() <= 255;
            tls.alpn.push_back(static_cast<unsigned char>(name.size()));
            tls.alpn.insert(tls.alpn.end(), name.begin(), name.end());
        }
        if (!ok || (!tls.isServer &&
                    SSL_set_alpn_protos(ssl, tls.alpn.data(), static_cast<unsigned>(tls.alpn.size())) != 0)) {
            return SettingsFailure{"Error in SSLSetALPNProtocols", openSslErrors()};
        }
    }
    if (const TlsValue* v = find(kTlsHandshakeTimeout)) {
        if (!isNumber(*v)) {
            return wrongType(kTlsHandshakeTimeout, "NSNumber");
        }
        tls.handshakeTimeout = numberOf(*v);
    }
    for (const char* key : {kTlsAllowsAnyRoot, kTlsAllowsExpiredRoots, kTlsValidatesCertificateChain,
                            kTlsAllowsExpiredCertificates, kTlsLevel}) {
        if (find(key)) {
            const std::string text = std::string("Security option unavailable - ") + key;
            base::log(text + (key == kTlsLevel ? " - You must use AsyncSocketSSLProtocolVersionMin & "
                                                 "AsyncSocketSSLProtocolVersionMax"
                                               : " - You must use manual trust evaluation"));
            return SettingsFailure{text, {}};
        }
    }
    return std::nullopt;
}

} // namespace

void AsyncSocket::startTLSNow() {
    if (!currentRead_ || currentRead_->kind != Packet::Kind::startTLS) {
        base::log("Logic error");
        closeWithError(otherError("Logic error"));
        return;
    }
    const TlsSettings& settings = static_cast<SpecialPacket&>(*currentRead_).settings;
    auto fail = [this](std::string text, std::string detail) {
        SocketError error = otherError(std::move(text));
        error.failureReason = std::move(detail);
        closeWithError(std::move(error));
    };
    tls_->reset();
    if (auto it = settings.find(kTlsIsServer); it != settings.end() && isNumber(it->second)) {
        tls_->isServer = numberOf(it->second) != 0;
    } else {
        tls_->isServer = false;
    }
    tls_->ssl = SSL_new(sharedContext(tls_->isServer));
    if (tls_->ssl == nullptr) {
        return fail("Error in SSLCreateContext", openSslErrors());
    }
    BIO* bio = BIO_new(bioMethod());
    if (bio == nullptr) {
        return fail("Error in SSLSetIOFuncs", openSslErrors());
    }
    BIO_set_data(bio, tls_.get());
    SSL_set_bio(tls_->ssl, bio, bio);
    if (SSL_set_ex_data(tls_->ssl, tlsStateIndex(), tls_.get()) != 1) {
        return fail("Error in SSLSetConnection", openSslErrors());
    }
    if (tls_->isServer) {
        SSL_set_accept_state(tls_->ssl);
    } else {
        SSL_set_connect_state(tls_->ssl);
    }
    if (auto failure = applySettings(*tls_, settings, connectHostName_)) {
        return fail(std::move(failure->text), std::move(failure->detail));
    }
    // Bytes that arrived behind the last clear-text read belong to the TLS stream.
    if (const size_t pending = preBuffer_->availableBytes()) {
        tls_->preBuffer.ensureCapacityForWrite(pending);
        std::memcpy(tls_->preBuffer.writeBuffer(), preBuffer_->readBuffer(), pending);
        tls_->preBuffer.didWrite(pending);
        preBuffer_->reset();
    }
    tls_->errCode = 0;
    tls_->lastHandshakeError = 0;
    handshakeStarted_ = dispatch::Clock::now();
    updateHandshakeTimeout();
    continueHandshake();
}

void AsyncSocket::endHandshakeTimeout() {
    if (handshakeTimer_) {
        handshakeTimer_->cancel();
        handshakeTimer_.reset();
    }
}

bool AsyncSocket::isHandshaking() const {
    return tls_->ssl != nullptr && !(flags_ & kFlagSecure) && (flags_ & kFlagReadSideAtTLS) &&
           (flags_ & kFlagWriteSideAtTLS);
}

// A peer that connects and never speaks must not hold the connection for ever: the handshake gets
// the time-out the caller gave (the settings' own, or that of what waits behind the handshake).
void AsyncSocket::updateHandshakeTimeout() {
    double limit = -1;
    bool byWrite = false;
    if (tls_->handshakeTimeout && *tls_->handshakeTimeout != 0) {
        limit = double(*tls_->handshakeTimeout);
    } else {
        const double read = readQueue_.empty() || readQueue_.front()->kind != Packet::Kind::read
                                ? -1
                                : static_cast<const ReadPacket&>(*readQueue_.front()).timeout;
        const double write = writeQueue_.empty() || writeQueue_.front()->kind != Packet::Kind::write
                                 ? -1
                                 : static_cast<const WritePacket&>(*writeQueue_.front()).timeout;
        byWrite = write >= 0 && (read < 0 || write < read);
        limit = byWrite ? write : read >= 0 ? read : kTlsDefaultHandshakeTimeout;
    }
    if (limit < 0) {
        endHandshakeTimeout();
        return;
    }
    if (!handshakeTimer_) {
        handshakeTimer_ = dispatch::TimerSource::make(socketQueue_);
        handshakeTimer_->resume();
    }
    // Cancelled on the queue before we go (closeTLS), like the read and write timers.
    handshakeTimer_->setEventHandler(
        [this, byWrite] { closeWithError(byWrite ? writeTimeoutError() : readTimeoutError()); });
    handshakeTimer_->schedule(handshakeStarted_ + seconds(limit));
}

void AsyncSocket::continueHandshake() {
    const int status = tls_->handshake();
    tls_->lastHandshakeError = status;
    if (status == 0) {
        endHandshakeTimeout();
        flags_ &= ~(kFlagReadSideAtTLS | kFlagWriteSideAtTLS);
        flags_ |= kFlagSecure;
        notify([](AsyncSocketDelegate& d, AsyncSocket& s) { d.socketDidSecure(s); });
        endCurrentRead();
        endCurrentWrite();
        maybeDequeueRead();
        maybeDequeueWrite();
        return;
    }
    if (status == tls::kWouldBlock) {
        return; // the next read or write event goes on
    }
    if (status != tls::kPeerAuthCompleted) {
        closeWithError(tlsError(status, tls_->failure));
        return;
    }
    const char* const notImplemented =
        "AsyncSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't implement "
        "socket:shouldTrustPeer:";
    const uint64_t generation = stateIndex_;
    auto completion = [weak = weak_from_this(), queue = socketQueue_, generation](bool trust) {
        queue->async([weak, trust, generation] {
            if (auto self = weak.lock()) {
                self->shouldTrustPeer(trust, generation);
            }
        });
    };
    TlsTrust trust = tls_->pendingTrust.value_or(TlsTrust{});
    if (!delegate_.lock() || !delegateQueue_) {
        closeWithError(otherError(notImplemented));
        return;
    }
    notify([trust = std::move(trust), completion, generation, notImplemented](AsyncSocketDelegate& d,
                                                                              AsyncSocket& s) {
        if (!d.socketDidReceiveTrust(s, trust, completion)) {
            s.postToQueue([generation, notImplemented](AsyncSocket& socket) {
                if (socket.stateIndex_ == generation) {
                    socket.closeWithError(otherError(notImplemented));
                }
            });
        }
    });
}

void AsyncSocket::shouldTrustPeer(bool trust, uint64_t generation) {
    if (generation != stateIndex_) {
        return; // closed meanwhile, or answered already
    }
    ++stateIndex_;
    if (!trust) {
        closeWithError(tlsError(tls::kPeerBadCert, "The peer's certificate was not trusted"));
        return;
    }
    if (tls_->lastHandshakeError != tls::kPeerAuthCompleted) {
        base::log("ssl_shouldTrustPeer called when last error is " +
                  std::to_string(tls_->lastHandshakeError) + " and not errSSLPeerAuthCompleted");
    }
    tls_->trustAnswer = true;
    continueHandshake();
}

void AsyncSocket::flushSSLBuffers() {
    if (!(flags_ & kFlagSecure)) {
        base::log("Cannot flush ssl buffers on non-secure socket");
        return;
    }
    if (preBuffer_->availableBytes() > 0) {
        return;
    }
    size_t estimate = socketFDBytesAvailable_ + tlsBufferedBytes();
    while (estimate > 0) {
        preBuffer_->ensureCapacityForWrite(estimate);
        size_t processed = 0;
        const int status = tls_->read(preBuffer_->writeBuffer(), estimate, &processed);
        preBuffer_->didWrite(processed);
        if (status != 0) {
            if (status == tls::kClosedGraceful || status == tls::kClosedAbort) {
                tls_->errCode = status;
            }
            break;
        }
        estimate = socketFDBytesAvailable_ + tlsBufferedBytes();
    }
}

} // namespace sockets
