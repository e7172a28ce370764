// The stream socket's queued reads and writes, their time-outs and the end of the stream.
#include "sockets/AsyncSocketPrivate.h"

#include "base/Log.h"
#include "dispatch/Source.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sockets {

using namespace stream;

namespace {

constexpr size_t kTlsReadChunk = 32768;
constexpr size_t kTlsWriteChunk = 32768;

size_t bufferLength(const std::shared_ptr<Data>& buffer) {
    return buffer ? buffer->size() : 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Requests

void AsyncSocket::readData(double timeout, long tag) {
    readData(timeout, nullptr, 0, 0, tag);
}

void AsyncSocket::readData(double timeout, std::shared_ptr<Data> buffer, size_t offset, size_t maxLength,
                           long tag) {
    if (offset > bufferLength(buffer)) {
        return;
    }
    queueRead(std::make_shared<ReadPacket>(std::move(buffer), offset, maxLength, timeout, 0, Data{}, tag));
}

void AsyncSocket::readDataToLength(size_t length, double timeout, long tag, std::shared_ptr<Data> buffer,
                                   size_t offset) {
    if (length == 0 || offset > bufferLength(buffer)) {
        return;
    }
    queueRead(std::make_shared<ReadPacket>(std::move(buffer), offset, 0, timeout, length, Data{}, tag));
}

void AsyncSocket::readDataToData(Data terminator, double timeout, long tag, size_t maxLength,
                                 std::shared_ptr<Data> buffer, size_t offset) {
    if (terminator.empty() || offset > bufferLength(buffer) ||
        (maxLength > 0 && maxLength < terminator.size())) {
        return;
    }
    queueRead(std::make_shared<ReadPacket>(std::move(buffer), offset, maxLength, timeout, 0,
                                           std::move(terminator), tag));
}

void AsyncSocket::queueRead(std::shared_ptr<ReadPacket> packet) {
    queueRequest(std::move(packet), /*toReads=*/true, /*toWrites=*/false);
}

void AsyncSocket::writeData(Data data, double timeout, long tag) {
    if (data.empty()) {
        return;
    }
    writeData(std::make_shared<const Data>(std::move(data)), timeout, tag);
}

void AsyncSocket::writeData(std::shared_ptr<const Data> data, double timeout, long tag) {
    if (!data || data->empty()) {
        return;
    }
    queueRequest(std::make_shared<WritePacket>(std::move(data), timeout, tag), /*toReads=*/false,
                 /*toWrites=*/true);
}

// Always queued, also from the socket queue, so a request made in a callback waits its turn.
void AsyncSocket::queueRequest(std::shared_ptr<Packet> packet, bool toReads, bool toWrites) {
    postToQueue([packet = std::move(packet), toReads, toWrites](AsyncSocket& s) {
        if (!(s.flags_ & kFlagStarted) || (s.flags_ & kFlagNoNewIO)) {
            return;
        }
        if (packet->kind == Packet::Kind::startTLS) {
            if (s.flags_ & kFlagTLSQueued) {
                return;
            }
            s.flags_ |= kFlagTLSQueued;
        }
        if (toReads) {
            s.readQueue_.push_back(packet);
        }
        if (toWrites) {
            s.writeQueue_.push_back(packet);
        }
        if (s.isHandshaking()) {
            s.updateHandshakeTimeout(); // the first read or write behind the handshake bounds it
        }
        if (toReads) {
            s.maybeDequeueRead();
        }
        if (toWrites) {
            s.maybeDequeueWrite();
        }
    });
}

float AsyncSocket::progressOfRead(long* tag, size_t* done, size_t* total) const {
    return onQueueSync([&]() -> float {
        const auto* read = currentRead_ && currentRead_->kind == Packet::Kind::read
                               ? static_cast<const ReadPacket*>(currentRead_.get())
                               : nullptr;
        if (tag) {
            *tag = read ? read->tag : 0;
        }
        if (done) {
            *done = read ? read->bytesDone : 0;
        }
        if (total) {
            *total = read ? read->readLength : 0;
        }
        if (!read) {
            return NAN;
        }
        return read->readLength > 0 ? float(read->bytesDone) / float(read->readLength) : 1.0f;
    });
}

float AsyncSocket::progressOfWrite(long* tag, size_t* done, size_t* total) const {
    return onQueueSync([&]() -> float {
        const auto* write = currentWrite_ && currentWrite_->kind == Packet::Kind::write
                                ? static_cast<const WritePacket*>(currentWrite_.get())
                                : nullptr;
        if (tag) {
            *tag = write ? write->tag : 0;
        }
        if (done) {
            *done = write ? write->bytesDone : 0;
        }
        if (total) {
            *total = write ? write->data->size() : 0;
        }
        return write ? float(write->bytesDone) / float(write->data->size()) : NAN;
    });
}

// ---------------------------------------------------------------------------------------------
// Sources

void AsyncSocket::setupReadAndWriteSources(int fd) {
    readSource_ = dispatch::ReadSource::make(fd, socketQueue_);
    writeSource_ = dispatch::WriteSource::make(fd, socketQueue_);
    // The handlers run on the socket queue, and the sources are cancelled there (close, or the
    // destructor's hop) before this object goes away.
    dispatch::ReadSource* rawRead = readSource_.get();
    readSource_->setEventHandler([this, rawRead, fd] {
        socketFDBytesAvailable_ = rawRead->data();
        if (socketFDBytesAvailable_ > 0) {
            doReadData();
            return;
        }
        // Nothing readable means the end of the stream, unless a read made since the event
        // (an early read, or OpenSSL's) took the bytes it announced.
        char probe = 0;
        const ssize_t r = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (r > 0 || (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) {
            doReadData();
            return;
        }
        doReadEOF();
    });
    writeSource_->setEventHandler([this] {
        flags_ |= kFlagCanWrite;
        doWriteData();
    });
    // The descriptor is closed once both sources have stopped using it.
    auto users = std::make_shared<int>(2);
    auto release = [fd, users] {
        if (--*users == 0) {
            ::close(fd);
        }
    };
    readSource_->setCancelHandler(release);
    writeSource_->setCancelHandler(release);
    socketFDBytesAvailable_ = 0;
    flags_ &= ~kFlagReadSourceSuspended;
    readSource_->resume();
    flags_ |= kFlagCanWrite | kFlagWriteSourceSuspended;
}

void AsyncSocket::suspendReadSource() {
    if (readSource_ && !(flags_ & kFlagReadSourceSuspended)) {
        readSource_->suspend();
        flags_ |= kFlagReadSourceSuspended;
    }
}

void AsyncSocket::resumeReadSource() {
    if (readSource_ && (flags_ & kFlagReadSourceSuspended)) {
        readSource_->resume();
        flags_ &= ~kFlagReadSourceSuspended;
    }
}

void AsyncSocket::suspendWriteSource() {
    if (writeSource_ && !(flags_ & kFlagWriteSourceSuspended)) {
        writeSource_->suspend();
        flags_ |= kFlagWriteSourceSuspended;
    }
}

void AsyncSocket::resumeWriteSource() {
    if (writeSource_ && (flags_ & kFlagWriteSourceSuspended)) {
        writeSource_->resume();
        flags_ &= ~kFlagWriteSourceSuspended;
    }
}

// ---------------------------------------------------------------------------------------------
// Reading

void AsyncSocket::maybeDequeueRead() {
    socketQueue_->assertOnQueue();
    if (currentRead_ || !(flags_ & kFlagConnected)) {
        return;
    }
    if (!readQueue_.empty()) {
        currentRead_ = std::move(readQueue_.front());
        readQueue_.pop_front();
        if (currentRead_->kind == Packet::Kind::startTLS) {
            flags_ |= kFlagReadSideAtTLS;
            maybeStartTLS();
            return;
        }
        setupReadTimer(static_cast<ReadPacket&>(*currentRead_).timeout);
        doReadData();
        return;
    }
    if (flags_ & kFlagCloseAfterReads) {
        if (!(flags_ & kFlagCloseAfterWrites) || (writeQueue_.empty() && !currentWrite_)) {
            closeWithError(std::nullopt);
        }
        return;
    }
    if (flags_ & kFlagSecure) {
        flushSSLBuffers();
        if (preBuffer_->availableBytes() == 0) {
            resumeReadSource(); // so that a close by the peer is noticed
        }
    }
}

void AsyncSocket::doReadData() {
    if (!currentRead_ || (flags_ & kFlagReadsOnHold)) {
        if (flags_ & kFlagSecure) {
            flushSSLBuffers();
        }
        if (socketFDBytesAvailable_ > 0) {
            suspendReadSource(); // it would fire continuously
        }
        return;
    }
    const bool secure = flags_ & kFlagSecure;
    if (socketFDBytesAvailable_ == 0 && readSource_ && !(flags_ & kFlagReadEOF)) {
        // Ask the descriptor now rather than wait a round through the event thread for the same
        // answer: a read queued behind a completed one usually finds bytes already there.
        int available = 0;
        if (::ioctl(connectedFD(), FIONREAD, &available) == 0 && available > 0) {
            socketFDBytesAvailable_ = static_cast<uint64_t>(available);
        }
    }
    size_t estimate = socketFDBytesAvailable_;
    if (secure) {
        estimate += tls_->preBuffer.availableBytes() + tls_->bufferedReadSize();
    }
    const bool hasBytes = estimate > 0;
    if (!hasBytes && preBuffer_->availableBytes() == 0) {
        resumeReadSource();
        return;
    }
    if (flags_ & kFlagReadSideAtTLS) {
        if (flags_ & kFlagWriteSideAtTLS) {
            if (tls_->lastHandshakeError == tls::kWouldBlock) {
                continueHandshake();
            }
        } else {
            suspendReadSource();
        }
        return;
    }

    auto& read = static_cast<ReadPacket&>(*currentRead_);
    bool done = false;
    std::optional<SocketError> error;
    size_t total = 0;
    auto takeFromPreBuffer = [&](size_t length) {
        read.ensureCapacityForAdditionalData(length);
        std::memcpy(read.writePosition(), preBuffer_->readBuffer(), length);
        preBuffer_->didRead(length);
        read.bytesDone += length;
        total += length;
    };
    auto maxedOut = [&] { return !done && read.maxLength > 0 && read.bytesDone >= read.maxLength; };

    if (preBuffer_->availableBytes() > 0) {
        const size_t length = read.isTermRead() ? read.readLengthForTermWithPreBuffer(*preBuffer_, &done)
                                                : read.readLengthForNonTerm(preBuffer_->availableBytes());
        takeFromPreBuffer(length);
        if (read.readLength > 0) {
            done = read.bytesDone == read.readLength;
        } else if (read.isTermRead()) {
            if (maxedOut()) {
                error = streamError(StreamError::readMaxedOut, "Read operation reached set maximum length");
            }
        } else {
            done = read.maxLength > 0 && read.bytesDone == read.maxLength;
        }
    }

    bool eof = flags_ & kFlagReadEOF;
    bool waiting = !done && !error && !eof && !hasBytes;

    if (!done && !error && !eof && hasBytes) {
        bool preBuffer = false;
        size_t length = 0;
        if (secure) {
            const size_t defaultLength = estimate > kTlsReadChunk ? estimate + 16384 : kTlsReadChunk;
            length = read.optimalReadLength(defaultLength, &preBuffer);
        } else if (read.isTermRead()) {
            length = read.readLengthForTerm(estimate, &preBuffer);
        } else {
            length = read.readLengthForNonTerm(estimate);
        }
        uint8_t* target = nullptr;
        if (preBuffer) {
            preBuffer_->ensureCapacityForWrite(length);
            target = preBuffer_->writeBuffer();
        } else {
            read.ensureCapacityForAdditionalData(length);
            target = read.writePosition();
        }
        size_t got = 0;
        if (secure) {
            int status = 0;
            while (status == 0 && got < length) {
                size_t processed = 0;
                status = tls_->read(target + got, length - got, &processed);
                got += processed;
            }
            if (status == tls::kWouldBlock) {
                waiting = true;
            } else if (status == tls::kClosedGraceful || status == tls::kClosedAbort) {
                eof = true;
                tls_->errCode = status;
            } else if (status != 0) {
                error = tlsError(status, tls_->failure);
            }
        } else {
            ssize_t r = 0;
            do {
                r = ::read(connectedFD(), target, length);
            } while (r < 0 && errno == EINTR);
            if (r < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    waiting = true;
                } else {
                    error = SocketError::fromErrno("Error in read() function");
                }
                socketFDBytesAvailable_ = 0;
            } else if (r == 0) {
                eof = true;
                socketFDBytesAvailable_ = 0;
            } else {
                got = static_cast<size_t>(r);
                socketFDBytesAvailable_ =
                    got < length ? 0
                                 : socketFDBytesAvailable_ - std::min<uint64_t>(socketFDBytesAvailable_, got);
                if (socketFDBytesAvailable_ == 0) {
                    waiting = true;
                }
            }
        }
        if (got > 0) {
            if (read.readLength > 0) {
                read.bytesDone += got;
                total += got;
                done = read.bytesDone == read.readLength;
            } else if (read.isTermRead()) {
                if (preBuffer) {
                    preBuffer_->didWrite(got);
                    takeFromPreBuffer(read.readLengthForTermWithPreBuffer(*preBuffer_, &done));
                } else {
                    const ssize_t over = read.searchForTermAfterPreBuffering(static_cast<ssize_t>(got));
                    const size_t counted = over > 0 ? got - static_cast<size_t>(over) : got;
                    read.bytesDone += counted;
                    total += counted;
                    done = over >= 0;
                    if (over > 0) { // bytes behind the terminator wait for the next read
                        preBuffer_->ensureCapacityForWrite(static_cast<size_t>(over));
                        std::memcpy(preBuffer_->writeBuffer(), read.writePosition(),
                                    static_cast<size_t>(over));
                        preBuffer_->didWrite(static_cast<size_t>(over));
                    }
                }
                if (maxedOut()) {
                    error =
                        streamError(StreamError::readMaxedOut, "Read operation reached set maximum length");
                }
            } else {
                if (preBuffer) {
                    preBuffer_->didWrite(got);
                    read.ensureCapacityForAdditionalData(got);
                    std::memcpy(read.writePosition(), preBuffer_->readBuffer(), got);
                    preBuffer_->didRead(got);
                }
                read.bytesDone += got;
                total += got;
                done = true;
            }
        }
    }

    if (!done && read.readLength == 0 && !read.isTermRead() && total > 0) {
        done = true;
    }
    if (done) {
        completeCurrentRead();
        if (!error && (!eof || preBuffer_->availableBytes() > 0)) {
            maybeDequeueRead();
        }
    } else if (total > 0) {
        waiting = true;
        notify([total, tag = read.tag](AsyncSocketDelegate& d, AsyncSocket& s) {
            d.socketDidReadPartialData(s, total, tag);
        });
    }
    if (error) {
        closeWithError(std::move(error));
    } else if (eof) {
        doReadEOF();
    } else if (waiting) {
        resumeReadSource();
    }
}

void AsyncSocket::doReadEOF() {
    flags_ |= kFlagReadEOF;
    if (flags_ & kFlagSecure) {
        flushSSLBuffers();
    }
    if (flags_ & (kFlagReadSideAtTLS | kFlagWriteSideAtTLS)) {
        closeWithError(tlsError(tls::kClosedAbort, "Socket closed during the TLS handshake"));
        return;
    }
    if ((flags_ & kFlagReadStreamClosed) || preBuffer_->availableBytes() > 0) {
        suspendReadSource(); // the buffered bytes are still served
        return;
    }
    if (config_ & kConfigHalfDuplex) {
        pollfd p{connectedFD(), POLLOUT, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) && !(p.revents & (POLLERR | POLLHUP))) {
            flags_ |= kFlagReadStreamClosed;
            notify([](AsyncSocketDelegate& d, AsyncSocket& s) { d.socketDidCloseReadStream(s); });
            suspendReadSource();
            return;
        }
    }
    if (tls_->errCode != 0 && tls_->errCode != tls::kClosedGraceful) {
        closeWithError(tlsError(tls_->errCode, tls_->failure));
        return;
    }
    closeWithError(streamError(StreamError::closed, "Socket closed by remote peer"));
}

void AsyncSocket::completeCurrentRead() {
    if (!currentRead_) {
        base::fatal("Trying to complete current read when there is no current read.");
    }
    auto& read = static_cast<ReadPacket&>(*currentRead_);
    Data result;
    if (read.bufferOwner) {
        read.buffer->resize(read.bytesDone);
        result = std::move(*read.buffer);
    } else {
        const size_t used = read.startOffset + read.bytesDone;
        if (read.buffer->size() > used) {
            read.buffer->resize(std::max(used, read.originalBufferLength));
        }
        const auto first = read.buffer->begin() + static_cast<std::ptrdiff_t>(read.startOffset);
        result.assign(first, first + static_cast<std::ptrdiff_t>(read.bytesDone));
    }
    notify([data = std::move(result), tag = read.tag](AsyncSocketDelegate& d, AsyncSocket& s) {
        d.socketDidReadData(s, data, tag);
    });
    endCurrentRead();
}

void AsyncSocket::endCurrentRead() {
    if (readTimer_) {
        readTimer_->cancel();
        readTimer_.reset();
    }
    currentRead_.reset();
}

void AsyncSocket::setupReadTimer(double timeout) {
    if (timeout < 0) {
        return;
    }
    readTimer_ = dispatch::TimerSource::make(socketQueue_);
    readTimer_->setEventHandler([this] { doReadTimeout(); }); // cancelled on the queue before we go
    readTimer_->schedule(dispatch::Clock::now() + seconds(timeout));
    readTimer_->resume();
}

void AsyncSocket::doReadTimeout() {
    flags_ |= kFlagReadsOnHold;
    auto packet = std::static_pointer_cast<ReadPacket>(currentRead_);
    if (!delegate_.lock() || !delegateQueue_) {
        doReadTimeoutWithExtension(0);
        return;
    }
    notify([packet, elapsed = packet->timeout, done = packet->bytesDone](AsyncSocketDelegate& d,
                                                                         AsyncSocket& s) {
        const double extension = d.socketShouldTimeoutRead(s, packet->tag, elapsed, done);
        s.postToQueue([packet, extension](AsyncSocket& socket) {
            if (socket.currentRead_ == packet) { // an answer about a read that is over changes nothing
                socket.doReadTimeoutWithExtension(extension);
            }
        });
    });
}

void AsyncSocket::doReadTimeoutWithExtension(double extension) {
    if (!currentRead_) {
        return;
    }
    if (extension > 0) {
        auto& read = static_cast<ReadPacket&>(*currentRead_);
        read.timeout += extension;
        readTimer_->schedule(dispatch::Clock::now() + seconds(extension));
        flags_ &= ~kFlagReadsOnHold;
        doReadData();
        return;
    }
    closeWithError(readTimeoutError());
}

// ---------------------------------------------------------------------------------------------
// Writing

void AsyncSocket::maybeDequeueWrite() {
    socketQueue_->assertOnQueue();
    if (currentWrite_ || !(flags_ & kFlagConnected)) {
        return;
    }
    if (!writeQueue_.empty()) {
        currentWrite_ = std::move(writeQueue_.front());
        writeQueue_.pop_front();
        if (currentWrite_->kind == Packet::Kind::startTLS) {
            flags_ |= kFlagWriteSideAtTLS;
            maybeStartTLS();
            return;
        }
        setupWriteTimer(static_cast<WritePacket&>(*currentWrite_).timeout);
        doWriteData();
        return;
    }
    if ((flags_ & kFlagCloseAfterWrites) && tls_->pendingOut() == 0) {
        if (!(flags_ & kFlagCloseAfterReads) || (readQueue_.empty() && !currentRead_)) {
            closeWithError(std::nullopt);
        }
    }
}

void AsyncSocket::doWriteData() {
    if (tls_->pendingOut() > 0) { // encrypted bytes first, in their order
        if (!(flags_ & kFlagCanWrite)) {
            resumeWriteSource();
            return;
        }
        if (tls_->flushOut() == tls::kClosedAbort) {
            closeWithError(SocketError::fromErrno("Error in write() function"));
            return;
        }
        if (tls_->pendingOut() > 0) {
            return; // the write source is resumed: the rest goes when there is room
        }
        if (!currentWrite_) {
            maybeDequeueWrite(); // a close after writing may have waited for these bytes
            if (!currentWrite_ && writeSource_) {
                suspendWriteSource();
            }
            return;
        }
    }
    if (!currentWrite_ || (flags_ & kFlagWritesOnHold)) {
        if (flags_ & kFlagCanWrite) {
            suspendWriteSource();
        }
        return;
    }
    if (!(flags_ & kFlagCanWrite)) {
        resumeWriteSource();
        return;
    }
    if (flags_ & kFlagWriteSideAtTLS) {
        if (flags_ & kFlagReadSideAtTLS) {
            if (tls_->lastHandshakeError == tls::kWouldBlock) {
                continueHandshake();
            }
        } else {
            suspendWriteSource();
        }
        return;
    }

    auto& write = static_cast<WritePacket&>(*currentWrite_);
    const uint8_t* data = write.data->data();
    const size_t size = write.data->size();
    size_t written = 0;
    bool waiting = false;
    std::optional<SocketError> error;
    if (flags_ & kFlagSecure) {
        bool more = true;
        if (tls_->writeCachedLength > 0) {
            // OpenSSL holds the record of these bytes: the same call again sends it.
            size_t processed = 0;
            const int status = tls_->write(data + write.bytesDone, tls_->writeCachedLength, &processed);
            if (status == 0) {
                written = tls_->writeCachedLength;
                tls_->writeCachedLength = 0;
                more = write.bytesDone + written < size;
            } else if (status == tls::kWouldBlock) {
                waiting = true;
                more = false;
            } else {
                error = tlsError(status, tls_->failure);
                more = false;
            }
        }
        size_t remaining = more ? size - write.bytesDone - written : 0;
        while (remaining > 0) {
            const size_t chunk = std::min(remaining, kTlsWriteChunk);
            size_t processed = 0;
            const int status = tls_->write(data + write.bytesDone + written, chunk, &processed);
            if (status == 0) {
                written += processed;
                remaining -= processed;
            } else if (status == tls::kWouldBlock) {
                waiting = true;
                tls_->writeCachedLength = chunk;
                break;
            } else {
                error = tlsError(status, tls_->failure);
                break;
            }
        }
        if (!error && tls_->pendingOut() > 0) {
            waiting = true; // accepted, but not all on the wire yet
        }
    } else {
        ssize_t r = 0;
        do {
            r = ::send(connectedFD(), data + write.bytesDone, size - write.bytesDone, MSG_NOSIGNAL);
        } while (r < 0 && errno == EINTR);
        if (r < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waiting = true;
            } else {
                error = SocketError::fromErrno("Error in write() function");
            }
        } else {
            written = static_cast<size_t>(r);
        }
    }
    if (waiting) {
        flags_ &= ~kFlagCanWrite;
        resumeWriteSource();
    }
    bool done = false;
    if (written > 0) {
        write.bytesDone += written;
        done = write.bytesDone == size;
    }
    if (done) {
        completeCurrentWrite();
        if (!error) {
            postToQueue([](AsyncSocket& s) { s.maybeDequeueWrite(); });
        }
    } else {
        if (!waiting && !error) { // the descriptor took only part
            flags_ &= ~kFlagCanWrite;
            resumeWriteSource();
        }
        if (written > 0) {
            notify([written, tag = write.tag](AsyncSocketDelegate& d, AsyncSocket& s) {
                d.socketDidWritePartialData(s, written, tag);
            });
        }
    }
    if (error) {
        closeWithError(std::move(error));
    }
}

void AsyncSocket::completeCurrentWrite() {
    if (!currentWrite_) {
        base::fatal("Trying to complete current write when there is no current write.");
    }
    notify([tag = static_cast<WritePacket&>(*currentWrite_).tag](AsyncSocketDelegate& d, AsyncSocket& s) {
        d.socketDidWriteData(s, tag);
    });
    endCurrentWrite();
}

void AsyncSocket::endCurrentWrite() {
    if (writeTimer_) {
        writeTimer_->cancel();
        writeTimer_.reset();
    }
    currentWrite_.reset();
}

void AsyncSocket::setupWriteTimer(double timeout) {
    if (timeout < 0) {
        return;
    }
    writeTimer_ = dispatch::TimerSource::make(socketQueue_);
    writeTimer_->setEventHandler([this] { doWriteTimeout(); });
    writeTimer_->schedule(dispatch::Clock::now() + seconds(timeout));
    writeTimer_->resume();
}

void AsyncSocket::doWriteTimeout() {
    flags_ |= kFlagWritesOnHold;
    auto packet = std::static_pointer_cast<WritePacket>(currentWrite_);
    if (!delegate_.lock() || !delegateQueue_) {
        doWriteTimeoutWithExtension(0);
        return;
    }
    notify([packet, elapsed = packet->timeout, done = packet->bytesDone](AsyncSocketDelegate& d,
                                                                         AsyncSocket& s) {
        const double extension = d.socketShouldTimeoutWrite(s, packet->tag, elapsed, done);
        s.postToQueue([packet, extension](AsyncSocket& socket) {
            if (socket.currentWrite_ == packet) {
                socket.doWriteTimeoutWithExtension(extension);
            }
        });
    });
}

void AsyncSocket::doWriteTimeoutWithExtension(double extension) {
    if (!currentWrite_) {
        return;
    }
    if (extension > 0) {
        auto& write = static_cast<WritePacket&>(*currentWrite_);
        write.timeout += extension;
        writeTimer_->schedule(dispatch::Clock::now() + seconds(extension));
        flags_ &= ~kFlagWritesOnHold;
        doWriteData();
        return;
    }
    closeWithError(writeTimeoutError());
}

} // namespace sockets
