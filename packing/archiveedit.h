#pragma once

#include "archivebuilder.h"
#include "entrypattern.h"
#include "filecollector.h"

#include <QList>
#include <QString>

#include <vector>

// Changing an existing archive: a builder that starts as a copy of it, every
// entry's stored bytes kept exactly and in directory order, then edited.

// Why `archive` must not be rewritten: its directory is cut short, or an
// entry reaches past its end or into its directory. Empty when it is sound.
QString archiveDamage(const BigArchive &archive);

// A builder of every entry of `archive`, as stored, written back the way it
// was (whole-file compressed or not).
ArchiveBuilder editOf(const BigArchive &archive);

// Adds `files`. A path the builder does not hold goes at the end; one it
// holds replaces the first entry of that path, where it stands, when
// `replace`, and is an error naming it otherwise.
// `replaced` gets how many of them replaced an entry.
bool addFiles(ArchiveBuilder &edit, const std::vector<DiskFile> &files, bool replace, bool compress,
              QString &problem, int *replaced = nullptr);

// Removes every entry that one of `patterns` matches. A pattern that matches
// nothing is an error naming it, and then nothing is removed. `removed` gets
// the number of entries removed.
bool removeEntries(ArchiveBuilder &edit, const QList<EntryPattern> &patterns, int &removed,
                   QString &problem);

// Gives the first entry named `from` (a name, "/" as "\") the path `to`. An
// error when there is no such entry, when `to` exists, or when `to` is not a
// path extract accepts.
bool renameEntry(ArchiveBuilder &edit, const QString &from, const QString &to, QString &problem);

// `name`, an entry path given by the user ("/" or "\" separated), as it is
// stored; false with `problem` set when extract would refuse it.
bool storedEntryPath(const QString &name, QByteArray &stored, QString &problem);
