#pragma once

#include "bigarchive.h"

#include <QString>

// Opening archives and reading entries for the verbs, each reporting its own
// failure on stderr.
namespace cli {

bool openArchive(const QString &path, BigArchive &archive);

// The first entry, in directory order, whose stored path is `name`; "/" in
// either counts as "\". Null when there is none.
const BigEntry *findEntry(const BigArchive &archive, const QString &name);

// The entry's bytes in memory (at most 2 GiB), unpacked when they are
// Refp-compressed unless `raw`. Only whole bytes count: an entry that
// reaches past the end of the archive fails. On failure `problem` says why.
bool entryBytes(const BigArchive &archive, const BigEntry &entry, bool raw, QByteArray &out,
                QString &problem);

// Opens `archivePath`, finds `name` in it and reads its bytes (unpacked
// unless `raw`); `storedPath` gets the entry's stored path. Reports failure.
bool readNamedEntry(const QString &archivePath, const QString &name, bool raw, QByteArray &out,
                    QString *storedPath = nullptr);

} // namespace cli
