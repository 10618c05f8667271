#pragma once

#include "bigarchive.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

// Entry bytes that may be Refp-compressed: telling them apart and unpacking
// them, in memory or on their way to a file.
//
// An entry carries no flag that says it is compressed: its first bytes
// decide, by the one rule of entryForm(), in every reader.

enum class EntryForm
{
    Stored,      // not a Refp stream, or one that declares no bytes: used as stored
    Compressed,  // a Refp header declaring a size its stream can produce
    Undecodable, // a Refp header declaring more than its stream can produce
};

// The form of an entry of `storedLength` bytes whose first `headLength`
// bytes (16 or more, or all of them) are at `head`. A Compressed entry may
// still fail to decode; it then counts as Undecodable. An Undecodable entry
// is read as its stored bytes, with the warning undecodableText().
EntryForm entryForm(const char *head, size_t headLength, quint64 storedLength);

// True when a reader would take bytes starting with `head` for a Refp stream
// at all: what our writers never store as they are.
bool startsLikeRefp(const char *head, size_t headLength);

// "looks Refp-compressed but does not decode"
QString undecodableText();

enum class UnpackResult
{
    Plain, // a Stored entry: used as it is
    Unpacked,
    Undecodable, // it looks Refp-compressed but does not decode: used as stored
    TooLarge,    // it unpacks to more than one buffer holds (2 GiB)
    NoMemory,    // the unpacked bytes do not fit in memory
};

// Replaces `bytes` by their unpacked form when they are Compressed. On any
// answer but Unpacked `bytes` are left as they were.
UnpackResult unpackIfCompressed(QByteArray &bytes);

// What became of an entry sent on by sendEntry.
struct EntryResult
{
    enum Kind
    {
        Done,       // every byte was sent
        Truncated,  // the entry reaches past the end of the archive: the bytes that exist were sent
        Unreadable, // the archive can no longer be read
        Undecodable, // it looks Refp-compressed but does not decode: its stored bytes were sent
        NoMemory,    // its bytes or its unpacked bytes do not fit in memory
        Stopped,     // the receiver refused a piece
    } kind = Done;
    quint64 present = 0; // stored bytes the archive holds (those read, when it shrank meanwhile)
};

// Hands the entry's bytes to `take` in pieces: unpacked when they are
// Compressed, unless `raw`. Works for entries of any size the format can
// hold. An entry that does not decode is sent as stored (Undecodable).
EntryResult sendEntry(const BigArchive &archive, const BigEntry &entry, bool raw,
                      const std::function<bool(const char *, size_t)> &take);

// How an entry is stored, from the Refp header at its start alone.
struct EntryStorage
{
    EntryForm form = EntryForm::Stored;
    quint64 unpackedSize = 0; // the declared size when Compressed, else the stored size
    bool compressed() const { return form == EntryForm::Compressed; }
};
// The storage of an entry whose first `headLength` bytes (16, or all there
// are) are at `head`, `present` of its stored bytes existing.
EntryStorage storageFromHead(const char *head, size_t headLength, quint64 present,
                             const BigEntry &entry);
// The storage of each of `chosen`. False when the archive cannot be read.
bool entryStorage(const BigArchive &archive, const std::vector<const BigEntry *> &chosen,
                  std::vector<EntryStorage> &storage);

// A sentence for a result other than Done and Stopped: "the archive can no
// longer be read", ...
QString describeEntryResult(const EntryResult &result, const BigEntry &entry);
