#include "StreamTestSupport.h"

#include <algorithm>
#include <chrono>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace streamtest {

using Kind = Recorder::Kind;

Data bytes(const std::string& text) {
    return Data(text.begin(), text.end());
}

std::string text(const Data& data) {
    return std::string(data.begin(), data.end());
}

void Recorder::socketDidAcceptNewSocket(AsyncSocket&, std::shared_ptr<AsyncSocket> newSocket) {
    if (onAccept) {
        onAccept(*newSocket);
    }
    {
        std::lock_guard lock(childrenMutex_);
        children_.push_back(newSocket);
    }
    record(Event(Kind::accepted));
}

void Recorder::socketDidConnectToHost(AsyncSocket&, const std::string& host, uint16_t port) {
    Event e(Kind::connected);
    e.host = host;
    e.port = port;
    record(std::move(e));
}

void Recorder::socketDidConnectToUrl(AsyncSocket&, const std::string& path) {
    Event e(Kind::connected);
    e.host = path;
    record(std::move(e));
}

void Recorder::socketDidReadData(AsyncSocket&, const Data& data, long tag) {
    Event e(Kind::read, tag);
    e.data = data;
    record(std::move(e));
}

void Recorder::socketDidReadPartialData(AsyncSocket&, size_t length, long tag) {
    Event e(Kind::partialRead, tag);
    e.length = length;
    record(std::move(e));
}

double Recorder::socketShouldTimeoutRead(AsyncSocket&, long tag, double elapsed, size_t bytesDone) {
    Event e(Kind::readTimeout, tag);
    e.elapsed = elapsed;
    e.length = bytesDone;
    const size_t asked = count(Kind::readTimeout);
    const double answer = asked < readExtensions.size() ? readExtensions[asked] : 0;
    record(std::move(e));
    if (onReadTimeoutQuestion) {
        onReadTimeoutQuestion();
    }
    return answer;
}

void Recorder::socketDidWriteData(AsyncSocket&, long tag) {
    record(Event(Kind::wrote, tag));
}

void Recorder::socketDidWritePartialData(AsyncSocket&, size_t length, long tag) {
    Event e(Kind::partialWrite, tag);
    e.length = length;
    record(std::move(e));
}

void Recorder::socketDidCloseReadStream(AsyncSocket&) {
    record(Event(Kind::readStreamClosed));
}

void Recorder::socketDidSecure(AsyncSocket&) {
    record(Event(Kind::secured));
}

bool Recorder::socketDidReceiveTrust(AsyncSocket&, const sockets::TlsTrust& trust,
                                     std::function<void(bool)> completion) {
    Event e(Kind::trust);
    e.length = trust.certificates.size();
    record(std::move(e));
    if (!trustAnswer) {
        return false;
    }
    completion(*trustAnswer);
    completion(!*trustAnswer); // a second answer changes nothing
    return true;
}

void Recorder::socketDidDisconnect(AsyncSocket* sock, const std::optional<sockets::SocketError>& error) {
    Event e(Kind::disconnected);
    e.error = error;
    e.nullSocket = sock == nullptr;
    record(std::move(e));
}

std::vector<Recorder::Event> Recorder::events(Kind kind) const {
    return log_.of(kind);
}

size_t Recorder::count(Kind kind) const {
    return events(kind).size();
}

bool Recorder::waitFor(Kind kind, size_t n) const {
    return log_.waitFor(kind, n);
}

std::shared_ptr<AsyncSocket> Recorder::child(size_t i) const {
    std::lock_guard lock(childrenMutex_);
    return i < children_.size() ? children_[i] : nullptr;
}

Relay::Relay(uint16_t targetPort)
    : target_(targetPort) {
    listenFD_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listenFD_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listenFD_, 1);
    socklen_t length = sizeof sa;
    getsockname(listenFD_, reinterpret_cast<sockaddr*>(&sa), &length);
    port_ = ntohs(sa.sin_port);
    if (::pipe(stopPipe_) != 0) {
        std::abort();
    }
    thread_ = std::thread([this] { run(); });
}

Relay::~Relay() {
    const char stop = 0;
    (void)::write(stopPipe_[1], &stop, 1);
    thread_.join();
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
    ::close(listenFD_);
}

std::string Relay::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

void Relay::run() {
    pollfd first[2] = {{listenFD_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(first, 2, 5000) <= 0 || (first[1].revents & POLLIN)) {
        return;
    }
    const int client = ::accept(listenFD_, nullptr, nullptr);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(target_);
    ::connect(server, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    for (;;) {
        pollfd fds[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 3, 5000) <= 0 || (fds[2].revents & POLLIN)) {
            break;
        }
        bool ended = false;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) {
                continue;
            }
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ended = true;
                break;
            }
            {
                std::lock_guard lock(mutex_);
                seen_.append(buffer, static_cast<size_t>(n));
            }
            (void)::send(i == 0 ? server : client, buffer, static_cast<size_t>(n), MSG_NOSIGNAL);
        }
        if (ended) {
            break;
        }
    }
    ::close(client);
    ::close(server);
}

} // namespace streamtest
