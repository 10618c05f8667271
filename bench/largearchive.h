// The benchmarks' large archive: a sparse 1 GiB file of 200,000 entries in
// 2,000 folders, its directory real and its data holes.
#pragma once

#include "bigwriter.h"

#include <QFile>
#include <QString>

#include <vector>

constexpr int kLargeEntries = 200000;
constexpr int kLargeFolders = 2000;
constexpr qint64 kLargeArchiveSize = qint64(1) << 30;

// Writes it to `path`; `directoryBytes` gets the length of its directory.
inline bool writeLargeArchive(const QString &path, quint64 &directoryBytes)
{
    BigEntries entries(kLargeEntries);
    for (int i = 0; i < kLargeEntries; ++i) {
        entries[size_t(i)].path = QByteArray("folder") +
                                  QByteArray::number(i / (kLargeEntries / kLargeFolders)) +
                                  "\\file" + QByteArray::number(i) + ".dat";
    }
    directoryBytes = bigDirectoryEnd(entries);
    const qint64 step = (kLargeArchiveSize - qint64(directoryBytes)) / kLargeEntries;
    for (int i = 0; i < kLargeEntries; ++i) {
        entries[size_t(i)].offset = qint32(qint64(directoryBytes) + i * step);
        entries[size_t(i)].size = qint32(step);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(bigHeaderAndDirectory(entries, quint32(kLargeArchiveSize))) ==
               qint64(directoryBytes) &&
           file.resize(kLargeArchiveSize);
}
