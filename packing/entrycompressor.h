#pragma once

// The files of a new archive, compressed on several threads a little ahead
// of the writing, which takes each result in directory order.

#include "archivebuilder.h"
#include "heldfile.h"

#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Opens the file `name` to be stored: a regular file, not through a link.
bool openInput(HeldFile &in, const QString &name, QString &problem);

// A file's bytes, or a part of them, as they go into the archive:
// Refp-compressed when that makes them smaller, else copied as they are. A
// file whose own first bytes read as a Refp header is never stored as it
// is: readers would take it for a stream. It goes in as a stream of itself,
// compressed or, at `level` 0, literal runs only.
struct Packed
{
    std::unique_ptr<char[]> bytes; // what goes in: compressed, or the file as it was read
    size_t size = 0;
    QString problem; // why the file could not be read or compressed
    // The file is not as it was chosen: its size differs, or it was written
    // while it was read. A whole file's bytes are still those read; a part
    // is not used, and the file goes in as it now is.
    bool changed = false;
    bool wrap = false; // a first part: the file begins like a Refp stream
    // A part: the bytes before it that it matched against, and its own last
    // bytes, the next part's history. The writer compares the two, so that
    // no part refers to bytes the part before did not hold.
    QByteArray history, tail;
};

// A whole file, read into memory: no more than `chosen` bytes, its size
// when it was chosen, whatever it has grown to since. At kAsStored, its
// bytes as they are (wrapped only where they must be).
constexpr int kAsStored = -1;
Packed compressFile(const QString &name, quint64 chosen, int level);

class Compressor
{
public:
    // A file larger than this is compressed as one stream in parts of kPart
    // bytes, each on any thread with a buffer of its own, so that memory
    // stays bounded by the parts in flight whatever the file's size.
    static constexpr quint64 kPart = 4 << 20;
    static constexpr quint64 kPartedFile = 2 * kPart;
    // How many parts, when `entry` is compressed in parts; 0 when whole.
    static quint32 partsOf(const ArchiveBuilder::Entry &entry, int level);
    // A stored file up to this size is read ahead on the same threads, so
    // that opening and reading many small files is not the writer's alone.
    static constexpr quint64 kReadAhead = 64 * 1024;

    Compressor(const std::vector<ArchiveBuilder::Entry> &entries, int level, unsigned threads);
    ~Compressor();

    // Whether entry `index` has results to take: it is compressed, or a
    // stored file read ahead.
    bool hasJob(size_t index) const { return perEntry[index].hasJob; }
    // The job of entry `index`'s first (or only) result; its parts follow.
    size_t firstJob(size_t index) const { return perEntry[index].firstJob; }
    // The result of job `job`, once it is ready; jobs are taken in order.
    Packed take(size_t job);
    // The file that a parted entry was read from, open until release().
    const HeldFile &source(size_t index) const { return perEntry[index].source->file; }
    void release(size_t index) { perEntry[index].source.reset(); }

private:
    // Workers take runs of consecutive jobs, up to kRunFiles of them or
    // kRunBytes, and hand each run's results over at once: one lock and at
    // most one wake-up for the writer per run, not per file.
    static constexpr size_t kRunFiles = 64;
    static constexpr quint64 kRunBytes = 1 << 20;

    struct Source
    {
        std::once_flag opened;
        HeldFile file;
        QString problem;
    };
    struct Job
    {
        Job(size_t entry, quint32 part, quint64 bytes) : entry(entry), part(part), bytes(bytes) {}
        size_t entry;
        quint32 part; // kWhole for a whole file
        quint64 bytes;
        bool ready = false;
        Packed packed;
    };
    struct PerEntry
    {
        size_t firstJob = 0;
        bool hasJob = false;
        std::unique_ptr<Source> source; // for a parted entry
    };
    static constexpr quint32 kWhole = 0xFFFFFFFFu;

    Packed run(const Job &job);
    Packed compressPart(const Job &job);
    void work();

    const std::vector<ArchiveBuilder::Entry> &entries;
    const int level;
    std::vector<Job> jobs;
    std::vector<PerEntry> perEntry;
    size_t window = 2;
    quint64 budget = 0;             // bytes of jobs started and not yet taken, at most
    quint64 inFlight = 0;           // and now
    size_t next = 0;                // the next job to start
    size_t taken = 0;               // results written so far
    size_t waitingFor = size_t(-1); // the result the writer waits for
    bool stopping = false;
    std::mutex lock;
    std::condition_variable wake, done;
    std::vector<std::thread> workers;
};
