#include "StreamTestSupport.h"
#include "sockets/SocketAddress.h"

#include <algorithm>
#include <chrono>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace streamtest {

void Recorder::socketDidAcceptNewSocket(AsyncSocket&, std::shared_ptr<AsyncSocket> newSocket) {
    if (onAccept) {
        onAccept(*newSocket);
    }
    {
        std::lock_guard lock(childrenMutex_);
        children_.push_back(newSocket);
    }
    record({.kind = Kind::accepted});
}

double Recorder::socketShouldTimeoutRead(AsyncSocket&, long tag, double elapsed, size_t bytesDone) {
    const size_t asked = count(Kind::readTimeout);
    record({.kind = Kind::readTimeout, .tag = tag, .length = bytesDone, .elapsed = elapsed});
    if (onReadTimeoutQuestion) {
        onReadTimeoutQuestion();
    }
    return asked < readExtensions.size() ? readExtensions[asked] : 0;
}

bool Recorder::socketDidReceiveTrust(AsyncSocket&, const sockets::TlsTrust& trust,
                                     std::function<void(bool)> completion) {
    record({.kind = Kind::trust, .length = trust.certificates.size()});
    if (!trustAnswer) {
        return false;
    }
    completion(*trustAnswer);
    completion(!*trustAnswer); // a second answer changes nothing
    return true;
}

std::shared_ptr<AsyncSocket> Recorder::child(size_t i) const {
    std::lock_guard lock(childrenMutex_);
    return i < children_.size() ? children_[i] : nullptr;
}

int listenOnLoopback(int backlog, uint16_t* port, int flags) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
        std::abort();
    }
    *port = ntohs(sa.sin_port);
    return fd;
}

int connectToLoopback(uint16_t port, int flags) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    const auto address = sockets::loopbackAddress4(port);
    const int result =
        ::connect(fd, reinterpret_cast<const sockaddr*>(address.data()), socklen_t(address.size()));
    if (result != 0 && !(flags & SOCK_NONBLOCK)) {
        std::abort();
    }
    return fd;
}

Relay::Relay(uint16_t targetPort)
    : target_(targetPort) {
    listenFD_ = listenOnLoopback(1, &port_);
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
    const int server = connectToLoopback(target_);
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
