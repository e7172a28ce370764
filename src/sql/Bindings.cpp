#include "sql/Bindings.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace sql {

Bindings::Bindings(std::initializer_list<value_type> list)
    : Bindings() {
    reserve(list.size());
    std::uninitialized_copy(list.begin(), list.end(), data_);
    size_ = list.size();
}

Bindings::Bindings(size_type count)
    : Bindings() {
    resize(count);
}

void Bindings::copyFrom(const Bindings& other) {
    reserve(other.size_);
    std::uninitialized_copy(other.begin(), other.end(), data_);
    size_ = other.size_;
}

Bindings& Bindings::operator=(const Bindings& other) {
    if (this != &other) {
        // Element-wise, so texts and blobs already here keep their storage where they can.
        const size_type common = std::min(size_, other.size_);
        std::copy(other.begin(), other.begin() + static_cast<difference_type>(common), data_);
        if (other.size_ < size_) {
            erase(begin() + other.size_, end());
        } else {
            insert(end(), other.begin() + common, other.end());
        }
    }
    return *this;
}

Bindings& Bindings::operator=(Bindings&& other) noexcept {
    if (this != &other) {
        clear();
        if (!isInline()) {
            ::operator delete(data_);
            data_ = inlineData();
            capacity_ = inlineCapacity;
        }
        take(other);
    }
    return *this;
}

Bindings& Bindings::operator=(std::initializer_list<value_type> list) {
    clear();
    insert(end(), list.begin(), list.end());
    return *this;
}

void Bindings::release() noexcept {
    std::destroy(begin(), end());
    if (!isInline()) {
        ::operator delete(data_);
    }
}

void Bindings::take(Bindings& other) noexcept {
    // Called with this list empty and inline.
    if (!other.isInline()) {
        data_ = std::exchange(other.data_, other.inlineData());
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, inlineCapacity);
        return;
    }
    std::uninitialized_move(other.begin(), other.end(), data_);
    size_ = other.size_;
    other.clear();
}

Bindings::value_type& Bindings::at(size_type i) {
    if (i >= size_) {
        throw std::out_of_range("Bindings::at");
    }
    return data_[i];
}

const Bindings::value_type& Bindings::at(size_type i) const {
    if (i >= size_) {
        throw std::out_of_range("Bindings::at");
    }
    return data_[i];
}

void Bindings::grow(size_type count) {
    const size_type room = std::max(count, 2 * capacity_);
    auto* fresh = static_cast<value_type*>(::operator new(room * sizeof(value_type)));
    std::uninitialized_move(begin(), end(), fresh);
    std::destroy(begin(), end());
    if (!isInline()) {
        ::operator delete(data_);
    }
    data_ = fresh;
    capacity_ = room;
}

void Bindings::resize(size_type count) {
    if (count < size_) {
        erase(begin() + count, end());
        return;
    }
    reserve(count);
    std::uninitialized_value_construct(data_ + size_, data_ + count);
    size_ = count;
}

void Bindings::clear() noexcept {
    std::destroy(begin(), end());
    size_ = 0;
}

Bindings::iterator Bindings::insert(const_iterator pos, const value_type* first, const value_type* last) {
    const auto at = static_cast<size_type>(pos - data_);
    const auto count = static_cast<size_type>(last - first);
    if (count == 0) {
        return data_ + at;
    }
    if (size_ + count > capacity_) {
        // The copies first, into new storage (the source may lie in this list, which stays
        // intact should a copy throw), then this list's values moved around them.
        Bindings grown;
        grown.reserve(std::max(size_ + count, 2 * capacity_));
        std::uninitialized_copy(first, last, grown.data_);
        grown.size_ = count;
        std::uninitialized_move(begin(), end(), grown.data_ + count);
        grown.size_ += size_;
        std::rotate(grown.begin(), grown.begin() + count, grown.begin() + count + at);
        *this = std::move(grown);
        return data_ + at;
    }
    // Copies appended, then rotated into place (the source is read before anything moves).
    std::uninitialized_copy(first, last, end());
    size_ += count;
    std::rotate(begin() + at, end() - count, end());
    return data_ + at;
}

Bindings::iterator Bindings::erase(const_iterator first, const_iterator last) {
    auto* from = data_ + (first - data_);
    auto* to = data_ + (last - data_);
    if (from != to) {
        auto* newEnd = std::move(to, end(), from);
        std::destroy(newEnd, end());
        size_ = static_cast<size_type>(newEnd - data_);
    }
    return from;
}

void Bindings::swap(Bindings& other) noexcept {
    Bindings t(std::move(other));
    other = std::move(*this);
    *this = std::move(t);
}

bool Bindings::operator==(const Bindings& other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
}

} // namespace sql
