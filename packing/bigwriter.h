#pragma once

#include "bigarchive.h"

#include <QByteArray>

#include <vector>

// Writing BIG archives: the header and the directory. The entries' data
// follows the directory, one entry after the other, and is the caller's.

// Bytes of the header and directory for `entries`: "BIGF", the archive size
// (little-endian), the entry count and the header length (big-endian; the
// offset of the first entry's data), then each entry's offset, size and
// 0-terminated path.
QByteArray bigHeaderAndDirectory(const BigEntries &entries, quint32 archiveSize);

// Length of that header and directory: where the first entry's data starts.
quint64 bigDirectoryEnd(const BigEntries &entries);
