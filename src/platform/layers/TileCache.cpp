#include "platform/layers/TileCache.h"

#include "dispatch/MainThreadChecker.h"

#include <functional>

namespace platform::layers {

TileCache::TileCache(std::size_t byteLimit)
    : limit_(byteLimit) {}

const std::shared_ptr<TileCache>& TileCache::shared() {
    static const std::shared_ptr<TileCache> cache = std::make_shared<TileCache>(128u * 1024u * 1024u);
    return cache;
}

std::size_t TileCache::KeyHash::operator()(const TileKey& key) const {
    std::size_t h = std::hash<std::uint64_t>()(key.owner);
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mix(std::hash<std::uint64_t>()(key.generation));
    mix(std::hash<int>()(key.index));
    mix(std::hash<int>()(key.scaleMilli));
    return h;
}

void TileCache::setByteLimit(std::size_t bytes) {
    limit_ = bytes;
    trimTo(limit_);
}

std::optional<QImage> TileCache::find(const TileKey& key) {
    CW_DCHECK_MAIN_THREAD();
    auto it = map_.find(key);
    if (it == map_.end()) {
        ++misses_;
        return std::nullopt;
    }
    ++hits_;
    entries_.splice(entries_.begin(), entries_, it->second);
    return it->second->image;
}

void TileCache::insert(const TileKey& key, const QImage& tile) {
    CW_DCHECK_MAIN_THREAD();
    const std::size_t bytes = static_cast<std::size_t>(tile.sizeInBytes());
    if (auto it = map_.find(key); it != map_.end()) {
        used_ -= it->second->bytes;
        entries_.erase(it->second);
        map_.erase(it);
    }
    if (bytes > limit_) {
        return;
    }
    trimTo(limit_ - bytes);
    entries_.push_front(Entry{key, tile, bytes});
    map_.emplace(key, entries_.begin());
    used_ += bytes;
}

QImage TileCache::reclaim(QSize size, std::size_t bytes) {
    QImage reusable;
    if (bytes <= limit_) {
        trimTo(limit_ - bytes, &reusable, size);
    }
    return reusable;
}

void TileCache::removeOwner(std::uint64_t owner) {
    CW_DCHECK_MAIN_THREAD();
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->key.owner == owner) {
            used_ -= it->bytes;
            map_.erase(it->key);
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
}

void TileCache::clear() {
    CW_DCHECK_MAIN_THREAD();
    entries_.clear();
    map_.clear();
    used_ = 0;
}

void TileCache::trimTo(std::size_t limit, QImage* reusable, QSize size) {
    while (used_ > limit && !entries_.empty()) {
        Entry& last = entries_.back();
        if (reusable && reusable->isNull() && last.image.size() == size && last.image.isDetached()) {
            *reusable = std::move(last.image);
            ++reclaimed_;
        }
        used_ -= last.bytes;
        map_.erase(last.key);
        entries_.pop_back();
        ++evictions_;
    }
}

} // namespace platform::layers
