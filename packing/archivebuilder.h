#pragma once

#include "bigarchive.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Writes a new BIG archive, whole or not at all, entry by entry: room for
// the directory first, then each entry's bytes in order, then the directory
// itself. An entry's bytes come from a file on disk (stored as they are, or
// Refp-compressed when that makes them smaller) or from an entry of an
// existing archive, whose stored bytes are copied exactly, by the kernel
// where it can.
class ArchiveBuilder
{
public:
    struct Entry
    {
        QByteArray path;                // stored path
        QString file;                   // a file on disk, or
        const BigEntry *kept = nullptr; // an entry of `source`, copied as stored
        bool compress = false;          // a file on disk stored Refp-compressed if smaller
        quint64 size = 0;               // the file's size when it was chosen
    };

    std::vector<Entry> entries;
    // The archive that `kept` entries belong to.
    const BigArchive *source = nullptr;
    // The Refp level for compressed entries (and a whole-file archive), and
    // how many threads compress entries (0: one for each core). The archive's
    // bytes are the same for any number of threads.
    int level = 2;
    unsigned threads = 0;
    // Whether the archive is written as one Refp stream, as a whole-file
    // compressed archive is (built in memory, then compressed).
    bool wholeFile = false;
    // Called after each entry with the number written so far and the bytes
    // of the entries' sources taken so far and in all.
    std::function<void(size_t done, size_t total, quint64 bytes, quint64 totalBytes)> progress;
    // The archive that the new one replaces at `path`, held since it was
    // read (an edit in place): the new one takes its place only while
    // `path` still names it, unchanged, and is taken back if what it
    // replaced turns out to be another file; nothing is written then.
    const HeldFile *replaces = nullptr;

    // Writes the archive to `path`. False, with `problem` naming what failed
    // and why, when it cannot; nothing is left at `path` then (what stood
    // there stays as it was). An archive that would pass 4 GiB by the sizes
    // known beforehand is refused before anything is written, and so is a
    // `path` that cannot seek (a pipe) unless the archive is compressed whole.
    bool write(const QString &path, QString &problem) const;
    // After write(): what the new file could not keep of the one it replaced
    // (its owner), or empty.
    mutable QString caveat;
    // After write(): the files that changed while they were read (their size
    // was no longer the one chosen, or they were written meanwhile). Each is
    // stored as read, no more than its chosen size, or as it is after the
    // change when its compressed parts no longer fit together: always bytes
    // that the file held.
    mutable QStringList changed;
};
