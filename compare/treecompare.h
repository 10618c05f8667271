#pragma once

#include "bigarchive.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Two trees of files compared path by path and byte by byte, each an
// archive or a folder on disk.
//
// An archive's entries count as extract would write them: under the path
// their components make, joined by "/", unpacked when Refp-compressed (an
// entry that was only compressed differently is the same). The first entry
// of a path is the one written; an entry extract would refuse is left out
// with a warning. Where the system's folders ignore case (Windows), paths
// that differ only in case are the same path, the first in directory order
// taking it, as extract writes them.
//
// A folder's files are read without following links: a symbolic link or a
// special file is an item whose bytes equal nothing's. Memory goes with the
// two listings, not with the bytes: files and stored entries are compared
// a piece at a time; a compressed entry is unpacked whole, as cat does.
struct TreeItem
{
    QString path;     // as shown: components joined by "/"
    QString key;      // what paths compare by
    int entry = -1;   // its archive entry, or -1 for a file on disk
    bool file = true; // false for a link or special file on disk
    quint64 size = 0; // its unpacked size, or its size when listed
    bool compressed = false;
};

class TreeSide
{
public:
    // The archive's entries; the archive must stay open while the side is used.
    bool openArchive(const BigArchive &archive, QString &problem);
    // Every item below `folder`, recursively.
    bool openFolder(const QString &folder, QString &problem);

    bool isArchive() const { return archive != nullptr; }
    std::vector<TreeItem> items; // sorted by key
    // What was left out, and why: then the comparison is not whole.
    QStringList warnings;

private:
    friend class TreeComparison;
    void sort();
    const BigArchive *archive = nullptr;
    QString folder;
};

// What a comparison found, in the order of the paths.
struct TreeDifference
{
    enum Kind
    {
        OnlyOld,
        OnlyNew,
        Differ,
    } kind;
    QString path;
};

class TreeComparison
{
public:
    // Compares every path the two sides share; those in one side only are
    // differences without reading anything.
    void run(const TreeSide &oldSide, const TreeSide &newSide);

    std::vector<TreeDifference> differences;
    uint64_t same = 0;
    // Items that could not be read or compared, each with its reason.
    QStringList problems;
    // Files on disk that changed while they were read.
    QStringList changed;

private:
    enum class Verdict
    {
        Same,
        Differ,
        Failed,
    };
    Verdict compare(const TreeSide &a, const TreeItem &x, const TreeSide &b, const TreeItem &y);
};
