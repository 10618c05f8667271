#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "samplefiles.h"

// Building BIG archives in memory for tests, valid and otherwise.

// A header with the given fields, in the byte orders of the format.
QByteArray bigHeader(quint32 entryCount, quint32 archiveSize = 0, quint32 headerLength = 0,
                     const QByteArray &signature = "BIGF");
// One directory record; `terminated` false leaves off the path's 0 byte.
QByteArray bigRecord(qint32 offset, qint32 size, const QByteArray &path, bool terminated = true);

// A small archive's entries, for the verbs' tests: a picture in a folder, a
// Refp-compressed text (sampleText()), a plain entry and an empty one.
QVector<SampleEntry> sampleEntries();
QByteArray sampleText();

// Writes `bytes` to `path`; false when it cannot.
bool writeFile(const QString &path, const QByteArray &bytes);
// The bytes of the file at `path`, or "<missing>" when it cannot be read.
QByteArray readFile(const QString &path);
// Writes `bytes` to `path` and answers `path`; a test that cannot stops.
QString writtenFile(const QString &path, const QByteArray &bytes);
// Renames `from` over `to`, replacing what is there as `mv` does; on
// Windows, as programs that save safely do (ReplaceFile), which also
// replaces a file that another process holds open.
bool renameOver(const QString &from, const QString &to);
