#pragma once

#include "bigarchive.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

// Entry bytes that may be Refp-compressed: telling them apart and unpacking
// them, in memory or on their way to a file.

enum class UnpackResult
{
    Plain, // not a Refp stream (or one that declares no bytes): used as stored
    Unpacked,
    Damaged,  // a Refp stream that does not unpack, or declares more than it can hold
    TooLarge, // it unpacks to more than one buffer holds (2 GiB)
    NoMemory, // the unpacked bytes do not fit in memory
};

// Replaces `bytes` by their unpacked form when they are a Refp stream that
// declares a size above 0. On any answer but Plain and Unpacked `bytes` are
// left as they were.
UnpackResult unpackIfCompressed(QByteArray &bytes);

// What became of an entry sent on by sendEntry.
struct EntryResult
{
    enum Kind
    {
        Done,       // every byte was sent
        Truncated,  // the entry reaches past the end of the archive: the bytes that exist were sent
        Unreadable, // the archive can no longer be read
        Damaged,    // its Refp stream does not unpack (cut short when `present` is below its size)
        NoMemory,   // its bytes or its unpacked bytes do not fit in memory
        Stopped,    // the receiver refused a piece
    } kind = Done;
    quint64 present = 0; // stored bytes the archive holds
};

// Hands the entry's bytes to `take` in pieces: unpacked when they are a Refp
// stream, unless `raw`. Works for entries of any size the format can hold.
EntryResult sendEntry(const BigArchive &archive, const BigEntry &entry, bool raw,
                      const std::function<bool(const char *, size_t)> &take);

// How an entry is stored, from the Refp header at its start alone.
struct EntryStorage
{
    bool compressed = false;  // its bytes are a Refp stream declaring a size
    quint64 unpackedSize = 0; // that size, or the stored size when not compressed
};
// The storage of each of `chosen`. False when the archive cannot be read.
bool entryStorage(const BigArchive &archive, const std::vector<const BigEntry *> &chosen,
                  std::vector<EntryStorage> &storage);

// A sentence for a result other than Done and Stopped: "its data is damaged", ...
QString describeEntryResult(const EntryResult &result, const BigEntry &entry);
