#pragma once

#include "bigarchive.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// A BIG archive seen as a read-only tree of folders and files, for mounting.
//
// Folder and file names are the components of the entry paths, decoded as
// the window decodes them (each byte the character of its code) and given
// as UTF-8. Entries that extract would refuse are left out; where a file's
// name is also a folder's, or two entries share a path, the folder or the
// first entry keeps the name and the others get "~1", "~2", ... Each such
// decision is a line in `warnings`. Listings keep directory order, folders
// first, as the window's table does.
//
// A file's size is the unpacked size from its Refp header (without
// unpacking), or the stored size when `raw`. Stored bytes are read from the
// archive on every read; compressed entries are unpacked on first use, once
// however many open them at the same time, and kept in a cache bounded in
// bytes, the least recently used going first. The bound holds for every
// unpacked byte alive, those of open files included: an entry larger than
// the whole cache cannot be read (EFBIG, with a warning when mounting), and
// one that does not fit beside the files open now waits for none and gives
// ENOMEM. Everything is safe to call from several threads at once.
class ArchiveFs
{
public:
    struct Node
    {
        std::string name; // UTF-8
        bool folder = false;
        int parent = -1;
        std::vector<int> children; // folders first, then files, in directory order
        const BigEntry *entry = nullptr;
        bool compressed = false; // unpacked on reading
        uint64_t size = 0;       // what a read can give
    };

    // The archive must stay open, unchanged, as long as this object lives.
    ArchiveFs(const BigArchive &archive, bool raw, uint64_t cacheBytes = 256ull << 20);
    ~ArchiveFs();

    // The child of `folder` named `name`, or -1.
    int child(int folder, const std::string &name) const;
    int nodeCount() const { return int(nodes.size()); }
    const Node &node(int index) const { return nodes[size_t(index)]; }
    // Where a stored file's bytes stand in the archive file, for copies the
    // kernel makes (splice); -1 when they are not in a file (a kept image,
    // or a compressed file).
    int fileDescriptor() const { return fd; }
    uint64_t storedOffset(int index) const;

    struct Bytes
    {
        std::unique_ptr<char[]> data;
        uint64_t size = 0;
    };
    // The unpacked bytes of a compressed file, shared with the cache; a
    // file being read holds them, so eviction never takes them from it.
    // Null when they cannot be unpacked, with `error` set: EIO (damaged),
    // EFBIG (larger than the cache), ENOMEM (no room now).
    std::shared_ptr<const Bytes> unpacked(int index, int &error);
    // Reads `size` bytes of file `index` at `offset` into `out`, from
    // `unpacked` for a compressed file: the number read, or -errno (EIO for
    // an entry that cannot be read).
    int64_t read(int index, const Bytes *unpacked, char *out, uint64_t size, uint64_t offset) const;

    QStringList warnings;

private:
    int add(int folder, const std::string &name, bool isFolder);
    void use(int index); // moves a cached file to the front; the lock is held
    // `n` stored bytes of `entry` from `offset` (all within what exists),
    // from the file opened at the start or the kept image.
    int64_t readStored(const BigEntry &entry, uint64_t offset, uint64_t n, char *out) const;

    const BigArchive &archive;
    int fd = -1; // the archive file, held by `archive`, for stored entries of a plain archive
    std::vector<Node> nodes;
    std::vector<std::unordered_map<std::string, int>> index; // per node: children by name

    std::mutex cacheLock;
    std::condition_variable unpackedOne;
    uint64_t cacheBudget;
    uint64_t reserved = 0;          // for unpacking under way
    std::atomic<uint64_t> alive{0}; // every unpacked byte not yet freed
    std::unordered_map<int, bool> unpacking;
    std::list<int> recent; // most recently used first
    struct Cached
    {
        std::shared_ptr<const Bytes> bytes;
        std::list<int>::iterator place;
    };
    std::unordered_map<int, Cached> cache;
};
