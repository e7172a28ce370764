#include "sockets/AsyncSocketPackets.h"

#include "base/Log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace sockets {

PreBuffer::PreBuffer(size_t capacity)
    : storage_(static_cast<uint8_t*>(std::malloc(std::max<size_t>(capacity, 1))))
    , size_(capacity) {
    if (storage_ == nullptr) {
        throw std::bad_alloc();
    }
}

PreBuffer::~PreBuffer() {
    std::free(storage_);
}

void PreBuffer::ensureCapacityForWrite(size_t length) {
    const size_t space = availableSpace();
    if (length <= space) {
        return;
    }
    const size_t size = size_ + (length - space);
    auto* grown = static_cast<uint8_t*>(std::realloc(storage_, size));
    if (grown == nullptr) {
        throw std::bad_alloc();
    }
    storage_ = grown;
    size_ = size;
}

void PreBuffer::didRead(size_t length) {
    read_ += length;
    if (read_ == write_) {
        reset();
    }
}

ReadPacket::ReadPacket(std::shared_ptr<Data> b, size_t offset, size_t max, double t, size_t length,
                       Data terminator, long g)
    : Packet(Kind::read)
    , maxLength(max)
    , timeout(t)
    , readLength(length)
    , term(std::move(terminator))
    , tag(g) {
    if (b) {
        buffer = std::move(b);
        startOffset = offset;
        originalBufferLength = buffer->size();
    } else {
        buffer = std::make_shared<Data>(readLength);
        bufferOwner = true;
    }
}

void ReadPacket::ensureCapacityForAdditionalData(size_t length) {
    const size_t used = startOffset + bytesDone;
    const size_t space = buffer->size() > used ? buffer->size() - used : 0;
    if (length > space) {
        buffer->resize(buffer->size() + (length - space));
    }
}

static size_t freeRoom(const ReadPacket& p) {
    const size_t used = p.startOffset + p.bytesDone;
    return p.buffer->size() > used ? p.buffer->size() - used : 0;
}

size_t ReadPacket::optimalReadLength(size_t defaultLength, bool* shouldPreBuffer) const {
    if (readLength > 0) {
        if (shouldPreBuffer) {
            *shouldPreBuffer = false;
        }
        return readLength - bytesDone;
    }
    size_t result = defaultLength;
    if (maxLength > 0) {
        result = std::min(result, maxLength - bytesDone);
    }
    if (shouldPreBuffer) {
        *shouldPreBuffer = freeRoom(*this) < result;
    }
    return result;
}

size_t ReadPacket::readLengthForNonTerm(size_t hint) const {
    if (isTermRead()) {
        base::fatal("This method does not apply to term reads");
    }
    if (hint == 0) {
        base::fatal("Invalid parameter: bytesAvailable");
    }
    if (readLength > 0) {
        return std::min(hint, readLength - bytesDone);
    }
    return maxLength > 0 ? std::min(hint, maxLength - bytesDone) : hint;
}

size_t ReadPacket::readLengthForTerm(size_t hint, bool* shouldPreBuffer) const {
    if (!isTermRead()) {
        base::fatal("This method does not apply to non-term reads");
    }
    if (hint == 0) {
        base::fatal("Invalid parameter: bytesAvailable");
    }
    const size_t result = maxLength > 0 ? std::min(hint, maxLength - bytesDone) : hint;
    if (shouldPreBuffer) {
        *shouldPreBuffer = freeRoom(*this) < result;
    }
    return result;
}

size_t ReadPacket::readLengthForTermWithPreBuffer(const PreBuffer& preBuffer, bool* found) const {
    if (!isTermRead()) {
        base::fatal("This method does not apply to non-term reads");
    }
    const size_t available = preBuffer.availableBytes();
    if (available == 0) {
        base::fatal("Invoked with empty pre buffer!");
    }
    const size_t termLength = term.size();
    if (bytesDone + available < termLength) {
        return available;
    }
    const size_t limit = maxLength > 0 ? std::min(available, maxLength - bytesDone) : available;
    // The window runs over the last termLength-1 bytes already read, then the pre-buffer.
    const uint8_t* pre = preBuffer.readBuffer();
    const uint8_t* done = buffer->data() + startOffset;
    size_t back = std::min(bytesDone, termLength - 1);
    if (back + limit < termLength) {
        return limit;
    }
    const size_t positions = back + limit - termLength + 1;
    size_t preOffset = 0;
    for (size_t i = 0; i < positions; ++i) {
        if (back > 0) {
            if (std::memcmp(done + bytesDone - back, term.data(), back) == 0 &&
                std::memcmp(pre, term.data() + back, termLength - back) == 0) {
                *found = true;
                return termLength - back;
            }
            --back;
            continue;
        }
        if (std::memcmp(pre + preOffset, term.data(), termLength) == 0) {
            *found = true;
            return preOffset + termLength;
        }
        ++preOffset;
    }
    return limit;
}

ssize_t ReadPacket::searchForTermAfterPreBuffering(ssize_t length) const {
    if (!isTermRead()) {
        base::fatal("This method does not apply to non-term reads");
    }
    const uint8_t* data = buffer->data() + startOffset;
    const size_t total = bytesDone + static_cast<size_t>(length);
    const size_t termLength = term.size();
    size_t i = bytesDone >= termLength ? bytesDone - termLength + 1 : 0;
    for (; i + termLength <= total; ++i) {
        if (std::memcmp(data + i, term.data(), termLength) == 0) {
            return static_cast<ssize_t>(total - (i + termLength));
        }
    }
    return -1;
}

} // namespace sockets
