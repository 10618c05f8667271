#pragma once

#include "bigarchive.h"
#include "entrydata.h"

#include <QString>
#include <QStringList>

#include <vector>

// Opening archives and reading entries for the verbs, each reporting its own
// failure on stderr.
namespace cli {

bool openArchive(const QString &path, BigArchive &archive);

// The one entry `name` picks: the first of that path ("/" counts as "\"),
// or the only entry a pattern matches. Null, after reporting it, when there
// is none or a pattern matches several.
const BigEntry *pickEntry(const BigArchive &archive, const QString &archivePath,
                          const QString &name);

// The entries that `names` pick, in directory order, each once: a name
// without wildcards picks the first entry of that path, a pattern every
// entry it matches (EntryPattern). Without names, every entry. Each name
// that picks nothing is reported ("no entry matches NAME") and makes
// `complete` false.
std::vector<const BigEntry *> selectEntries(const BigArchive &archive, const QString &archivePath,
                                            const QStringList &names, bool &complete);

// How each of `chosen` is stored, from its Refp header (a warning for each
// that does not decode). False, after reporting it, when the archive
// cannot be read.
bool storageOf(const BigArchive &archive, const std::vector<const BigEntry *> &chosen,
               std::vector<EntryStorage> &storage);

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
