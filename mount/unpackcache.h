#pragma once

#include "mountedtree.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

// Unpacked files kept for the trees that share it, bounded in bytes, the
// least recently used going first. The bound holds for every unpacked byte
// alive, those of open files included, and for what is being unpacked: a
// file that does not fit beside the files open now waits for none and
// gives ENOMEM. It must outlive every Bytes it hands out.
class UnpackCache
{
public:
    explicit UnpackCache(uint64_t budget) : limit(budget) {}
    UnpackCache(const UnpackCache &) = delete;
    UnpackCache &operator=(const UnpackCache &) = delete;

    uint64_t budget() const { return limit; }
    // A number for a tree's keys, apart from every other tree's.
    uint64_t newOwner() { return uint64_t(++owners) << 32; }

    // The bytes kept for `key`, or those `unpack` makes (without the lock,
    // one unpacking per key however many ask), which take `need` bytes of
    // the budget while it runs. Null with `error` ENOMEM when there is no
    // room, EIO when `unpack` gives nothing.
    using Unpack = std::function<std::unique_ptr<MountedTree::Bytes>()>;
    std::shared_ptr<const MountedTree::Bytes> get(uint64_t key, uint64_t need, const Unpack &unpack,
                                                  int &error);

private:
    void use(uint64_t key); // moves a kept file to the front; the lock is held

    const uint64_t limit;
    std::atomic<uint32_t> owners{0};
    std::mutex lock;
    std::condition_variable unpackedOne;
    uint64_t reserved = 0;          // for unpacking under way
    std::atomic<uint64_t> alive{0}; // every unpacked byte not yet freed
    std::unordered_set<uint64_t> unpacking;
    std::list<uint64_t> recent; // most recently used first
    struct Cached
    {
        std::shared_ptr<const MountedTree::Bytes> bytes;
        std::list<uint64_t>::iterator place;
    };
    std::unordered_map<uint64_t, Cached> kept;
};
