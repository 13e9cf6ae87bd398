// Growable array used for every list that crosses the host boundary.
// Layout is fixed (the host reads it): 32-bit count, 32-bit capacity, storage pointer.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace kelvane {

// Raised on a read outside 0..Count()-1; callers are not expected to continue past it.
class ERangeError : public std::out_of_range {
  public:
    using std::out_of_range::out_of_range;
};

template <typename T>
class TTList {
  public:
    TTList() = default;
    TTList(const TTList& other) { *this = other; }
    TTList& operator=(const TTList& other) {
        if (this == &other) {
            return *this;
        }
        // Keep the storage when both lists have the same count; otherwise start afresh.
        if (count_ == other.count_) {
            for (int32_t i = 0; i < count_; ++i) {
                items_[i] = other.items_[i];
            }
            return *this;
        }
        Clear();
        for (int32_t i = 0; i < other.count_; ++i) {
            if (Add(other.items_[i]) < 0) {
                throw std::bad_alloc();
            }
        }
        return *this;
    }
    ~TTList() { Clear(); }

    // Appends and returns the new index; -1 (list unchanged) when the storage cannot grow.
    int32_t Add(T value) {
        if (count_ == capacity_ && !Grow()) {
            return -1;
        }
        new (&items_[count_]) T(std::move(value));
        return count_++;
    }

    // Moves the later elements down by one; false when the index is outside the list.
    bool Delete(int32_t index) {
        if (index < 0 || index >= count_) {
            return false;
        }
        for (int32_t i = index; i + 1 < count_; ++i) {
            items_[i] = std::move(items_[i + 1]);
        }
        items_[count_ - 1].~T();
        --count_;
        return true;
    }

    // Frees the storage; never frees what the elements point to.
    void Clear() {
        for (int32_t i = 0; i < count_; ++i) {
            items_[i].~T();
        }
        ::operator delete(static_cast<void*>(items_), std::nothrow);
        items_ = nullptr;
        count_ = 0;
        capacity_ = 0;
    }

    T& operator[](int32_t index) { return items_[Checked(index)]; }
    const T& operator[](int32_t index) const { return items_[Checked(index)]; }

    int32_t Count() const { return count_; }
    int32_t Capacity() const { return capacity_; }

    T* begin() { return items_; }
    T* end() { return items_ + count_; }
    const T* begin() const { return items_; }
    const T* end() const { return items_ + count_; }

  private:
    int32_t Checked(int32_t index) const {
        if (index < 0 || index >= count_) {
            throw ERangeError("list index out of bounds");
        }
        return index;
    }

    bool Grow() {
        const int64_t wanted = capacity_ == 0 ? 1 : int64_t{count_} * 2;
        if (wanted > INT32_MAX || static_cast<uint64_t>(wanted) > SIZE_MAX / sizeof(T)) {
            return false;
        }
        auto* fresh = static_cast<T*>(::operator new(sizeof(T) * wanted, std::nothrow));
        if (fresh == nullptr) {
            return false;
        }
        for (int32_t i = 0; i < count_; ++i) {
            new (&fresh[i]) T(std::move(items_[i]));
            items_[i].~T();
        }
        ::operator delete(static_cast<void*>(items_), std::nothrow);
        items_ = fresh;
        capacity_ = static_cast<int32_t>(wanted);
        return true;
    }

    int32_t count_ = 0;
    int32_t capacity_ = 0;
    T* items_ = nullptr;
};

static_assert(sizeof(TTList<void*>) == 16);

}  // namespace kelvane
