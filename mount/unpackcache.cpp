#include "unpackcache.h"

#include <cerrno>

void UnpackCache::use(uint64_t key)
{
    Cached &entry = kept[key];
    recent.splice(recent.begin(), recent, entry.place);
}

std::shared_ptr<const MountedTree::Bytes> UnpackCache::get(uint64_t key, uint64_t need,
                                                           const Unpack &unpack, int &error)
{
    std::unique_lock<std::mutex> guard(lock);
    // One unpacking per key: a second asker waits for the first.
    for (;;) {
        const auto found = kept.find(key);
        if (found != kept.end()) {
            use(key);
            return found->second.bytes;
        }
        if (unpacking.count(key) == 0)
            break;
        unpackedOne.wait(guard);
    }
    // Room for it: the least recently used that no open file holds go.
    for (auto it = recent.end(); it != recent.begin() && alive + reserved + need > limit;) {
        --it;
        if (kept[*it].bytes.use_count() == 1) {
            kept.erase(*it);
            it = recent.erase(it);
        }
    }
    if (alive + reserved + need > limit) {
        error = ENOMEM;
        return nullptr;
    }
    reserved += need;
    unpacking.insert(key);
    guard.unlock();

    // Unpacked without the lock, so that other files go on being read.
    std::shared_ptr<const MountedTree::Bytes> bytes;
    if (std::unique_ptr<MountedTree::Bytes> made = unpack()) {
        alive += made->size;
        bytes.reset(made.release(), [this](const MountedTree::Bytes *b) {
            alive -= b->size;
            delete b;
        });
    }

    guard.lock();
    reserved -= need;
    unpacking.erase(key);
    if (bytes) {
        recent.push_front(key);
        kept[key] = Cached{bytes, recent.begin()};
    }
    guard.unlock();
    unpackedOne.notify_all();
    error = EIO;
    return bytes;
}
