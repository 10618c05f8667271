#pragma once

#include "bigarchive.h"
#include "largetable.h"
#include "mountedtree.h"
#include "unpackcache.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
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
// decision is a line in `warnings`, as is an entry that reaches past the end
// of the archive. Listings keep directory order, folders first, as the
// window's table does.
//
// The tree is built from the directory alone, its names in one table: no
// entry's bytes are read before it is first asked about. It may be built in
// two steps (Build::Later): the root's own children at once, in one pass
// that only splits paths, then the rest by build(), which another thread
// may run while the root is being listed. build() makes every folder
// first and then the files; a name below the root is found as soon as its
// node is made (nothing about a node changes once it is), and waits for
// the whole tree only when it is not there yet, as does a listing below the
// root. Either way every node has the same index.
//
// A file's size comes from its Refp header (the unpacked size, without unpacking), or is
// the stored size when `raw`; what that first look finds wrong (an entry
// larger than the cache, or one that does not decode) goes to `report`.
//
// Stored bytes are read from the archive on every read; compressed entries
// are unpacked on first use, once however many open them at the same time,
// into an UnpackCache, which may be shared with other trees. Its bound
// counts the stored copies that entries are being unpacked from too: an
// entry larger, with its stored copy, than the whole cache cannot be read
// (EFBIG). Everything is safe to call from several threads at once.
class ArchiveFs final : public MountedTree
{
public:
    using Report = std::function<void(const QString &)>;

    enum class Build
    {
        Now,
        Later
    };

    // The archive must stay open, unchanged, as long as this object lives;
    // its directory is needed only until the tree is built (releaseDirectory()).
    ArchiveFs(const BigArchive &archive, bool raw, std::shared_ptr<UnpackCache> cache,
              Report report = {}, Build when = Build::Now);
    // With a cache of its own, of `cacheBytes`.
    explicit ArchiveFs(const BigArchive &archive, bool raw, uint64_t cacheBytes = 256ull << 20,
                       Report report = {}, Build when = Build::Now);
    ~ArchiveFs();

    // The rest of the tree, for one made with Build::Later, and `warnings`.
    // Throws std::bad_alloc when there is no memory for it; then nothing
    // below the root's children exists.
    void build();

    int child(int folder, const char *name) const override;
    bool exists(int index) const override
    {
        return index >= 0 &&
               (index < rootEnd || size_t(index) < made.load(std::memory_order_acquire) ||
                (complete() && size_t(index) < nodes.size()));
    }
    int nodeCount() const { return complete() ? int(nodes.size()) : rootEnd; }
    const char *name(int index) const override { return names.data() + nodes[size_t(index)].name; }
    bool isFolder(int index) const override { return nodes[size_t(index)].entry < 0; }
    int parent(int index) const override { return nodes[size_t(index)].parent; }
    const int *children(int folder, size_t &count) const override;
    Storage storage(int index) const override;
    int source(int) const override { return 0; }
    int fileDescriptor(int) const override { return fd; }
    uint64_t storedOffset(int index) const override;
    std::shared_ptr<const Bytes> unpacked(int index, int &error) override;
    int64_t read(int index, const Bytes *unpacked, char *out, uint64_t size,
                 uint64_t offset) const override;
    // The directory entry a file shows, by its number in the archive.
    int entryIndex(int index) const { return nodes[size_t(index)].entry; }
    // A stored name as the tree shows it, appended to `out`.
    static void appendShownName(std::string &out, const char *name, size_t length);

    QStringList warnings;

private:
    struct Node
    {
        uint32_t name = 0; // where its name starts in `names`
        int32_t parent = -1;
        uint32_t firstChild = 0; // into `childList`
        uint32_t childCount = 0;
        int32_t entry = -1; // its archive entry; -1 for a folder
        qint32 offset = 0;  // and that entry's offset and size, kept here so
        qint32 size = 0;    // that the archive's directory may go
    };
    // The root's children (Build::Later's first step), and the room that
    // the rest of the tree will take, so that nothing the root's listing
    // reads moves while build() runs: in whole large pages when `later`.
    void buildRoot(bool later);
    // True once build() has finished, or made every folder; waits for that
    // while it runs, and false when it failed first.
    bool complete() const { return reached(built); }
    bool foldersMade() const { return reached(folders); }
    bool reached(const std::atomic<bool> &step) const;
    // Room in the name table for `count` nodes, at most half full: grown and
    // filled again when it has less. Never while others may read the table.
    void roomFor(size_t count);
    // Adds the child `name` to `folder`: its index, or -1 when the name is taken.
    int add(int folder, const char *name, size_t length, int entry);
    // Adds file `entry` to `folder` as `name`, or as "name~1", ... when that is
    // taken: its index; `renamed` tells which.
    int addFile(int folder, std::string &name, int entry, bool &renamed);
    int find(int folder, const char *name, size_t length) const;
    std::atomic<uint64_t> &learnedOf(int index) const
    {
        return index < rootEnd ? rootLearned[size_t(index)] : learned[size_t(index)];
    }
    size_t slotOf(int folder, const char *name, size_t length) const;
    // Asks the processor for the slot of the file `path` in `folder`, to come.
    void prefetchSlot(int folder, const QByteArray &path) const;
    uint64_t slotFor(int node, const char *name, size_t length) const;
    uint64_t learn(int index) const;
    // A file's entry, without its path.
    BigEntry entryOf(int index) const
    {
        BigEntry entry;
        entry.offset = nodes[size_t(index)].offset;
        entry.size = nodes[size_t(index)].size;
        return entry;
    }
    // The path of a node in the tree, as shown: names joined by "/".
    QString pathOf(int index) const;
    // `n` stored bytes of `entry` from `offset` (all within what exists),
    // from the file opened at the start or the kept image.
    int64_t readStored(const BigEntry &entry, uint64_t offset, uint64_t n, char *out) const;

    const BigArchive &archive;
    const bool raw;
    Report report;
    int fd = -1; // the archive file, held by `archive`, for stored entries of a plain archive
    largetable::Vector<Node> nodes;
    largetable::String names;               // every name, each ending in a 0 byte
    largetable::Vector<int> childList;      // each folder's children, one run per folder
    largetable::Vector<uint64_t> nameTable; // a hash table of (folder, name), 0 when free
    // Per node, learned at the first look: kLearned, kCompressed and the size;
    // the root's children's apart, since they are asked about before the rest exists.
    mutable largetable::Vector<std::atomic<uint64_t>> learned;
    std::unique_ptr<std::atomic<uint64_t>[]> rootLearned;

    // The root and its children are nodes below rootEnd, made before the
    // rest: while build() runs they are looked up by name in rootByName
    // (sorted by name) and listed from rootChildren.
    int rootEnd = 1;
    std::vector<int> rootChildren, rootByName;
    std::vector<int> rootFiles;        // in directory order, for build()'s warnings
    std::vector<bool> rootFileRenamed; // the same
    // While building: the last "~N" given for each (folder, name) taken.
    std::unordered_map<std::string, int> lastSuffix;
    std::atomic<bool> built{false};
    // Set by build() once every folder is made, from when names below the
    // root are looked up while it adds the files; nodes below `made` are
    // whole (their children aside) and may be asked about.
    std::atomic<bool> folders{false};
    std::atomic<size_t> made{0};
    bool buildFailed = false;
    mutable std::mutex buildLock;
    mutable std::condition_variable builtOne;

    std::shared_ptr<UnpackCache> cache;
    const uint64_t cacheKeys; // this tree's part of the cache's keys
};
