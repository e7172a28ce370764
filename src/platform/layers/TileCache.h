// TileCache: a least-recently-used store of rendered tiles with a byte cap, shared across layers.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>

namespace platform::layers {

struct TileKey {
    std::uint64_t owner = 0;      // the layer
    std::uint64_t generation = 0; // bumped when the owner's content changes
    int index = 0;                // tile number from the top
    int scaleMilli = 1000;        // pixels per point × 1000
    bool operator==(const TileKey&) const = default;
};

// Holds tiles until the bytes held would pass the cap, then drops the least recently used. A tile
// larger than the whole cap is not kept. Main thread only.
class TileCache {
public:
    explicit TileCache(std::size_t byteLimit);

    // The cache shared by every tiled layer that was not given its own (128 MiB unless changed).
    static const std::shared_ptr<TileCache>& shared();

    std::size_t byteLimit() const { return limit_; }
    // Lowering the cap drops tiles at once.
    void setByteLimit(std::size_t bytes);
    std::size_t bytesUsed() const { return used_; }
    std::size_t tileCount() const { return map_.size(); }

    // The tile, marked as just used; nullopt when absent.
    std::optional<QImage> find(const TileKey& key);
    void insert(const TileKey& key, const QImage& tile);
    // Makes room for a tile of `bytes` (dropping the least recently used ones as insert() would) and
    // hands back a dropped tile of `size` pixels that nothing else holds, for the new tile to be drawn
    // into: a 4K tile is megabytes, and a fresh one costs the system's zeroing of every page. Null
    // when none fits.
    QImage reclaim(QSize size, std::size_t bytes);
    // Drops every tile of an owner (its content changed or it went away).
    void removeOwner(std::uint64_t owner);
    void clear();

    // Counters for tests and diagnostics.
    std::size_t hits() const { return hits_; }
    std::size_t misses() const { return misses_; }
    std::size_t evictions() const { return evictions_; }
    std::size_t reclaimed() const { return reclaimed_; }

private:
    struct KeyHash {
        std::size_t operator()(const TileKey& key) const;
    };
    struct Entry {
        TileKey key;
        QImage image;
        std::size_t bytes;
    };
    void trimTo(std::size_t limit, QImage* reusable = nullptr, QSize size = {});

    std::size_t limit_;
    std::size_t used_ = 0;
    std::list<Entry> entries_; // front: most recently used
    std::unordered_map<TileKey, std::list<Entry>::iterator, KeyHash> map_;
    std::size_t hits_ = 0;
    std::size_t misses_ = 0;
    std::size_t evictions_ = 0;
    std::size_t reclaimed_ = 0;
};

} // namespace platform::layers
