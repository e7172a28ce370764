// The values a statement binds and a row returns.
#pragma once

#include "sql/Blob.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace sql {

// What a statement binds and a row returns. An absent optional is SQL NULL.
using Binding = std::variant<std::int64_t, double, std::string, Blob>;

// A list of bindings, used like a std::vector of them. Up to `inlineCapacity` values live in
// the list itself, so the values of a setter, a comparison or a short insert cost no
// allocation of their own. A moved-from list is empty.
class Bindings {
public:
    using value_type = std::optional<Binding>;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = value_type&;
    using const_reference = const value_type&;
    using pointer = value_type*;
    using const_pointer = const value_type*;
    using iterator = value_type*;
    using const_iterator = const value_type*;

    static constexpr size_type inlineCapacity = 4;

    Bindings() noexcept
        : data_(inlineData()) {}
    Bindings(std::initializer_list<value_type> list);
    // `count` NULLs.
    explicit Bindings(size_type count);
    template <std::input_iterator It>
    Bindings(It first, It last)
        : Bindings() {
        for (; first != last; ++first) {
            emplace_back(*first);
        }
    }
    // Empty lists, as most expressions' are, are copied, moved and destroyed inline.
    // To and from plain vectors of bindings, the list type of earlier code.
    Bindings(const std::vector<value_type>& list)
        : Bindings(list.begin(), list.end()) {}
    operator std::vector<value_type>() const { return std::vector<value_type>(begin(), end()); }
    Bindings(const Bindings& other)
        : Bindings() {
        if (other.size_ != 0) {
            copyFrom(other);
        }
    }
    Bindings(Bindings&& other) noexcept
        : Bindings() {
        if (other.size_ != 0 || !other.isInline()) {
            take(other);
        }
    }
    Bindings& operator=(const Bindings& other);
    Bindings& operator=(Bindings&& other) noexcept;
    Bindings& operator=(std::initializer_list<value_type> list);
    ~Bindings() {
        if (size_ != 0 || !isInline()) {
            release();
        }
    }

    size_type size() const { return size_; }
    bool empty() const { return size_ == 0; }
    size_type capacity() const { return capacity_; }
    value_type* data() { return data_; }
    const value_type* data() const { return data_; }
    iterator begin() { return data_; }
    iterator end() { return data_ + size_; }
    const_iterator begin() const { return data_; }
    const_iterator end() const { return data_ + size_; }
    const_iterator cbegin() const { return data_; }
    const_iterator cend() const { return data_ + size_; }
    value_type& operator[](size_type i) { return data_[i]; }
    const value_type& operator[](size_type i) const { return data_[i]; }
    // Throws std::out_of_range past the end.
    value_type& at(size_type i);
    const value_type& at(size_type i) const;
    value_type& front() { return data_[0]; }
    const value_type& front() const { return data_[0]; }
    value_type& back() { return data_[size_ - 1]; }
    const value_type& back() const { return data_[size_ - 1]; }

    void reserve(size_type count) {
        if (count > capacity_) {
            grow(count);
        }
    }
    // Shrinks, or grows with NULLs.
    void resize(size_type count);
    void clear() noexcept;

    template <class... A> value_type& emplace_back(A&&... args) {
        if (size_ == capacity_) {
            // Built first: the arguments may refer to a value of this list.
            value_type v(std::forward<A>(args)...);
            grow(size_ + 1);
            return *::new (data_ + size_++) value_type(std::move(v));
        }
        return *::new (data_ + size_++) value_type(std::forward<A>(args)...);
    }
    void push_back(const value_type& v) { emplace_back(v); }
    void push_back(value_type&& v) { emplace_back(std::move(v)); }
    void pop_back() { std::destroy_at(data_ + --size_); }

    // Copies of [first, last) before `pos` (the range may lie in this list).
    iterator insert(const_iterator pos, const value_type* first, const value_type* last);
    iterator insert(const_iterator pos, std::initializer_list<value_type> list) {
        return insert(pos, list.begin(), list.end());
    }
    iterator insert(const_iterator pos, const value_type& v) { return insert(pos, &v, &v + 1); }
    template <std::input_iterator It>
    requires(!std::is_convertible_v<It, const value_type*>) iterator
        insert(const_iterator pos, It first, It last) {
        const Bindings copies(first, last);
        return insert(pos, copies.begin(), copies.end());
    }
    iterator erase(const_iterator first, const_iterator last);
    iterator erase(const_iterator pos) { return erase(pos, pos + 1); }

    void swap(Bindings& other) noexcept;
    friend void swap(Bindings& a, Bindings& b) noexcept { a.swap(b); }

    bool operator==(const Bindings& other) const;

private:
    value_type* inlineData() { return reinterpret_cast<value_type*>(inline_); }
    bool isInline() const { return data_ == reinterpret_cast<const value_type*>(inline_); }
    // Room for at least `count` values (at least double the present room).
    void grow(size_type count);
    // Takes `other`'s values (its storage when on the heap); `other` is left empty.
    void take(Bindings& other) noexcept;
    // Called empty and inline: copies of `other`'s values.
    void copyFrom(const Bindings& other);
    // Destroys the values and frees the storage.
    void release() noexcept;

    value_type* data_;
    size_type size_ = 0;
    size_type capacity_ = inlineCapacity;
    alignas(value_type) std::byte inline_[inlineCapacity * sizeof(value_type)];
};

} // namespace sql
