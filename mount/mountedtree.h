#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// What a mount serves: a read-only tree of folders and files, its nodes
// numbered from the root (0) up, each file's bytes from one archive among
// the tree's sources. Everything is safe to call from several threads.
class MountedTree
{
public:
    virtual ~MountedTree() = default;

    // Unpacked bytes, shared with a cache: a file being read holds them.
    struct Bytes
    {
        std::unique_ptr<char[]> data;
        uint64_t size = 0;
    };
    // How a file reads: unpacked on reading or not, and its size.
    struct Storage
    {
        bool compressed = false;
        uint64_t size = 0;
    };

    virtual bool exists(int index) const = 0;
    // The child of `folder` named `name`, or -1.
    virtual int child(int folder, const char *name) const = 0;
    // A node's name (UTF-8), folder, parent (-1 for the root) and children.
    // For a node that exists.
    virtual const char *name(int index) const = 0;
    virtual bool isFolder(int index) const = 0;
    virtual int parent(int index) const = 0;
    virtual const int *children(int folder, size_t &count) const = 0;
    virtual Storage storage(int index) const = 0;
    // The number of the source (archive) a file comes from.
    virtual int source(int index) const = 0;
    // Where a stored file's bytes stand in its archive file, for copies the
    // kernel makes (splice); -1 when they are not in a file (a kept image,
    // or a compressed file).
    virtual int fileDescriptor(int index) const = 0;
    virtual uint64_t storedOffset(int index) const = 0;
    // The unpacked bytes of a compressed file. Null when they cannot be
    // unpacked, with `error` set: EIO (damaged), EFBIG (larger than the
    // cache), ENOMEM (no room now).
    virtual std::shared_ptr<const Bytes> unpacked(int index, int &error) = 0;
    // Reads `size` bytes of file `index` at `offset` into `out`, from
    // `unpacked` for a compressed file: the number read, or -errno (EIO for
    // an entry that cannot be read).
    virtual int64_t read(int index, const Bytes *unpacked, char *out, uint64_t size,
                         uint64_t offset) const = 0;
};
