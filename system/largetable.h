#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <vector>

// Large tables built in one go, such as an archive's directory and its
// entries: the system is asked to back them with large pages where it can.
// With 4 KiB pages, filling the 18 MiB of a 200,000-entry directory took a
// fault per page, which cost more than parsing it. Only advice: nothing
// changes when the system does not follow it.
// One implementation per system: largetable_posix.cpp, largetable_windows.cpp.
namespace largetable {

// The size of a large page where the system has them.
constexpr size_t kPageSize = size_t(2) << 20;

// Tables from this size on come from allocate(): below it, the faults that
// large pages save cost less than the memory they may leave unused.
constexpr size_t kLargeFrom = size_t(256) << 10;

// How many elements of `size` bytes to set aside for `count` of them in a
// container of Allocator: for a table from allocate(), as many as its whole
// large pages hold.
inline size_t room(size_t count, size_t size)
{
    if (count * size < kLargeFrom)
        return count;
    return (count * size + kPageSize - 1) / kPageSize * kPageSize / size;
}

// `bytes` of zeroed memory of its own, advised for large pages before any
// of it is touched, or null. Memory from the heap cannot have that: the
// allocator writes its header into the first page, which then can only be
// a small one, a fault per 4 KiB; a directory of 50,000 entries spent more
// in those faults than in parsing. Only what is written is backed.
void *allocate(size_t bytes);
// Gives back what allocate(bytes) returned.
void release(void *data, size_t bytes);

// For containers of large tables: blocks from kLargeFrom on come from
// allocate(); elements made without a value are left as they are (for
// bytes about to be read into, not written twice).
template <class T> struct Allocator
{
    using value_type = T;
    Allocator() = default;
    template <class U> Allocator(const Allocator<U> &) {}
    T *allocate(size_t n)
    {
        if (n * sizeof(T) < kLargeFrom)
            return std::allocator<T>().allocate(n);
        if (n > size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        void *data = largetable::allocate(n * sizeof(T));
        if (!data)
            throw std::bad_alloc();
        return static_cast<T *>(data);
    }
    void deallocate(T *data, size_t n)
    {
        if (n * sizeof(T) < kLargeFrom)
            std::allocator<T>().deallocate(data, n);
        else
            largetable::release(data, n * sizeof(T));
    }
    template <class U> void construct(U *at) { ::new (static_cast<void *>(at)) U; }
    template <class U, class... Args> void construct(U *at, Args &&...args)
    {
        ::new (static_cast<void *>(at)) U(std::forward<Args>(args)...);
    }
    template <class U> bool operator==(const Allocator<U> &) const { return true; }
    template <class U> bool operator!=(const Allocator<U> &) const { return false; }
};

template <class T> using Vector = std::vector<T, Allocator<T>>;
using String = std::basic_string<char, std::char_traits<char>, Allocator<char>>;

// Advises the whole large pages that lie within `size` bytes from `data`.
void advise(const void *data, size_t size);

} // namespace largetable
