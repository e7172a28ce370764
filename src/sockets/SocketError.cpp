#include "sockets/SocketError.h"

#include <cerrno>
#include <cstring>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sockets {

SocketError SocketError::fromErrno(std::string reason) {
    return fromErrno(errno, std::move(reason));
}

SocketError SocketError::fromErrno(int error, std::string reason) {
    return SocketError{kPosixErrorDomain, error, std::strerror(error), std::move(reason)};
}

SocketError SocketError::fromGai(int gaiCode) {
    return SocketError{kNetDBErrorDomain, gaiCode, gai_strerror(gaiCode), {}};
}

int openSocket(int family, int type, SocketError* error) {
    const int fd = ::socket(family, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail(error, SocketError::fromErrno("Error in socket() function"));
    }
    return fd;
}

int failSocketSetup(int fd, const char* reason, SocketError* error) {
    const int saved = errno;
    ::close(fd);
    fail(error, SocketError::fromErrno(saved, reason));
    return -1;
}

} // namespace sockets
