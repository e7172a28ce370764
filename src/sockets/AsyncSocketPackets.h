// The stream socket's queued requests and its read-ahead buffer. Used on the socket queue only.
#pragma once

#include "sockets/AsyncSocket.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sys/types.h>

namespace sockets {

// A growable byte buffer with a read and a write position. Space before the read position is
// reused only once the buffer drains, when both positions go back to the start.
class PreBuffer {
public:
    explicit PreBuffer(size_t capacity);
    ~PreBuffer();
    PreBuffer(const PreBuffer&) = delete;
    PreBuffer& operator=(const PreBuffer&) = delete;

    // Grows the storage by exactly the shortfall when fewer than `length` bytes are free.
    void ensureCapacityForWrite(size_t length);
    size_t availableBytes() const { return write_ - read_; }
    const uint8_t* readBuffer() const { return storage_ + read_; }
    void didRead(size_t length);
    size_t availableSpace() const { return size_ - write_; }
    uint8_t* writeBuffer() { return storage_ + write_; }
    void didWrite(size_t length) { write_ += length; }
    void reset() { read_ = write_ = 0; }
    size_t capacity() const { return size_; }

private:
    uint8_t* storage_ = nullptr;
    size_t size_ = 0;
    size_t read_ = 0;
    size_t write_ = 0;
};

// One entry of the read or write queue.
struct Packet {
    enum class Kind { read, write, startTLS };
    explicit Packet(Kind k)
        : kind(k) {}
    virtual ~Packet() = default;
    const Kind kind;
};

// One queued read: read-all (no length, no terminator), fixed-length, or up to a terminator.
struct ReadPacket : Packet {
    // Without a buffer the packet makes its own of `readLength` zero bytes.
    ReadPacket(std::shared_ptr<Data> buffer, size_t startOffset, size_t maxLength, double timeout,
               size_t readLength, Data terminator, long tag);

    // Grows the buffer (zero-filled) so that `length` more bytes fit after what was read.
    void ensureCapacityForAdditionalData(size_t length);
    // The next read when only an estimate of what is available exists (TLS); `shouldPreBuffer`
    // tells whether the bytes should go to the pre-buffer rather than grow the packet's buffer.
    size_t optimalReadLength(size_t defaultLength, bool* shouldPreBuffer) const;
    // The next read of a read-all or fixed-length read, with `hint` (> 0) bytes available.
    size_t readLengthForNonTerm(size_t hint) const;
    // The next socket read of a terminator read, with `hint` (> 0) bytes available.
    size_t readLengthForTerm(size_t hint, bool* shouldPreBuffer) const;
    // How many bytes from the front of a non-empty pre-buffer the terminator read takes, and
    // whether the terminator completes within them (`found` is left alone otherwise).
    size_t readLengthForTermWithPreBuffer(const PreBuffer& preBuffer, bool* found) const;
    // After `length` bytes were put into the buffer behind what was read: how many of them follow
    // the terminator (0: the last one ends it), or -1 when it is not complete.
    ssize_t searchForTermAfterPreBuffering(ssize_t length) const;

    uint8_t* writePosition() { return buffer->data() + startOffset + bytesDone; }
    bool isTermRead() const { return !term.empty(); }

    std::shared_ptr<Data> buffer;
    size_t startOffset = 0;
    size_t bytesDone = 0;
    size_t maxLength = 0; // 0: none
    double timeout = -1;  // grows with every extension the delegate grants
    size_t readLength = 0;
    Data term;
    bool bufferOwner = false;
    size_t originalBufferLength = 0;
    long tag = 0;
};

// Keeps the caller's bytes, not a copy.
struct WritePacket : Packet {
    WritePacket(std::shared_ptr<const Data> d, double t, long g)
        : Packet(Kind::write)
        , data(std::move(d))
        , timeout(t)
        , tag(g) {}
    std::shared_ptr<const Data> data;
    size_t bytesDone = 0;
    double timeout = -1;
    long tag = 0;
};

// The start-TLS marker; one object sits in both queues.
struct SpecialPacket : Packet {
    explicit SpecialPacket(TlsSettings s)
        : Packet(Kind::startTLS)
        , settings(std::move(s)) {}
    TlsSettings settings;
};

} // namespace sockets
