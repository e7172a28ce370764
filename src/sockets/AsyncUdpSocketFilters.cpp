// The datagram socket's send and receive filters.
#include "sockets/AsyncUdpSocketPrivate.h"

#include "base/Log.h"
#include "dispatch/Source.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace sockets {

using namespace udp;

// ---------------------------------------------------------------------------------------------
// Filters

void AsyncUdpSocket::setSendFilter(SendFilter filter, dispatch::QueuePtr queue, FilterMode mode) {
    if (filter && !queue) {
        base::fatal("Must provide a dispatch_queue in which to run the filter block.");
    }
    if (!filter) {
        queue = nullptr;
    }
    onQueueAsync([filter = std::move(filter), queue = std::move(queue), mode](AsyncUdpSocket& s) {
        s.sendFilter_ = filter;
        s.sendFilterQueue_ = queue;
        s.sendFilterAsync_ = mode == FilterMode::asynchronous;
    });
}

void AsyncUdpSocket::setReceiveFilter(ReceiveFilter filter, dispatch::QueuePtr queue, FilterMode mode) {
    if (filter && !queue) {
        base::fatal("Must provide a dispatch_queue in which to run the filter block.");
    }
    if (!filter) {
        queue = nullptr;
    }
    onQueueAsync([filter = std::move(filter), queue = std::move(queue), mode](AsyncUdpSocket& s) {
        s.receiveFilter_ = filter;
        s.receiveFilterQueue_ = queue;
        s.receiveFilterAsync_ = mode == FilterMode::asynchronous;
    });
}

} // namespace sockets
