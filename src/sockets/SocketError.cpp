#include "sockets/SocketError.h"

#include <cerrno>
#include <cstring>

#include <netdb.h>

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

} // namespace sockets
