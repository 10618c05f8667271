#include "archivebuilder.h"

#include "atomicfile.h"
#include "bigwriter.h"
#include "entrydata.h"
#include "gfxcorecodec.h"
#include "heldfile.h"
#include "largetable.h"

#include <QFile>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace {

// The format's offsets and sizes are 32-bit.
constexpr quint64 kMaxArchive = 0xFFFFFFFFull;

QString tooLarge()
{
    return QStringLiteral("the archive would be larger than 4 GiB, the most the format holds");
}

// Where the archive's bytes go: a file on disk, or memory for an archive
// that is then compressed whole.
class Sink
{
public:
    virtual ~Sink() = default;
    virtual bool write(const char *data, size_t n) = 0;
    // Appends `length` bytes of `source` from `offset`.
    virtual bool copyFrom(const HeldFile &source, quint64 offset, quint64 length,
                          const QString &name) = 0;
    virtual bool writeAt(const char *data, size_t n, quint64 position) = 0;
    virtual quint64 written() const = 0;
    virtual QString problem() const = 0;
};

// Small pieces (the entries of many small files) are gathered and written
// 1 MiB at a time; everything else goes straight to the file.
class FileSink : public Sink
{
public:
    AtomicFile file;
    bool write(const char *data, size_t n) override
    {
        // Large, or no memory to gather in: after what was gathered.
        if (n >= kBuffer / 2 ||
            (!buffer && !(buffer.reset(new (std::nothrow) char[kBuffer]), buffer)))
            return flush() && file.write(data, n);
        if (pending + n > kBuffer && !flush())
            return false;
        std::memcpy(buffer.get() + pending, data, n);
        pending += n;
        return true;
    }
    bool copyFrom(const HeldFile &source, quint64 offset, quint64 length,
                  const QString &name) override
    {
        return flush() && file.copyFrom(source, offset, length, name);
    }
    bool writeAt(const char *data, size_t n, quint64 position) override
    {
        return flush() && file.writeAt(data, n, position);
    }
    quint64 written() const override { return file.written() + pending; }
    QString problem() const override { return file.problem(); }

private:
    bool flush()
    {
        const size_t n = std::exchange(pending, 0);
        return n == 0 || file.write(buffer.get(), n);
    }
    static constexpr size_t kBuffer = 1 << 20;
    std::unique_ptr<char[]> buffer;
    size_t pending = 0;
};

class MemorySink : public Sink
{
public:
    bool write(const char *data, size_t n) override
    {
        if (!reserve(n))
            return false;
        std::memcpy(bytes.get() + size, data, n);
        size += n;
        return true;
    }
    bool copyFrom(const HeldFile &source, quint64 offset, quint64 length,
                  const QString &name) override
    {
        if (!reserve(size_t(length)))
            return false;
        const int64_t got = source.readAt(bytes.get() + size, size_t(length), offset);
        if (got < 0 || quint64(got) != length) {
            failure = got < 0 ? QStringLiteral("cannot read %1: %2").arg(name, systemError())
                              : QStringLiteral("cannot read %1: it ended early").arg(name);
            return false;
        }
        size += size_t(got);
        return true;
    }
    bool writeAt(const char *data, size_t n, quint64 position) override
    {
        std::memcpy(bytes.get() + position, data, n);
        return true;
    }
    quint64 written() const override { return size; }
    QString problem() const override { return failure; }

    std::unique_ptr<char[]> bytes;
    size_t size = 0;

private:
    bool reserve(size_t n)
    {
        if (size + n <= capacity)
            return true;
        if (size + n > kMaxArchive) {
            failure = tooLarge();
            return false;
        }
        const size_t grown = std::min<size_t>(kMaxArchive, std::max(size + n, capacity * 2));
        std::unique_ptr<char[]> larger(new (std::nothrow) char[grown]);
        if (!larger) {
            failure =
                QStringLiteral("Not enough memory to build the archive (%1 bytes)").arg(grown);
            return false;
        }
        if (size > 0)
            std::memcpy(larger.get(), bytes.get(), size);
        bytes = std::move(larger);
        capacity = grown;
        return true;
    }

    size_t capacity = 0;
    QString failure;
};

// Opens the file `name` to be stored: a regular file, not through a link.
bool openInput(HeldFile &in, const QString &name, QString &problem)
{
    if (!in.open(name, false)) {
        problem = QStringLiteral("cannot read %1: %2").arg(name, in.problem());
        return false;
    }
    if (!in.isRegular()) {
        problem = QStringLiteral("%1 is not a regular file").arg(name);
        return false;
    }
    return true;
}

// A file's bytes as they go into the archive: Refp-compressed when that
// makes them smaller, else copied as they are. A file whose own
// first bytes read as a Refp header is never stored as it is: readers would
// take it for a stream. It goes in as a stream of itself, compressed or, at
// `level` 0, literal runs only.
struct Packed
{
    std::unique_ptr<char[]> bytes; // what goes in: compressed, or the file as it was read
    size_t size = 0;
    QString problem; // why the file could not be read or compressed
};

Packed compressFile(const QString &name, int level)
{
    Packed packed;
    HeldFile in;
    if (!openInput(in, name, packed.problem))
        return packed;
    const quint64 size = in.identity().size;
    if (size == 0 || size > kMaxArchive)
        return packed; // stored: nothing to gain, or too large for any archive
    // Read rather than mapped: a mapped file that another process cuts short
    // faults on the first page past its new end. Into a buffer each thread
    // keeps for the next file, up to kKeptBuffer: a fresh one per file costs
    // a map and an unmap of its own for all but the smallest.
    constexpr size_t kKeptBuffer = 8 << 20;
    thread_local std::unique_ptr<char[]> reading;
    thread_local size_t readingSize = 0;
    if (readingSize < size) {
        reading.reset(new (std::nothrow) char[size]);
        readingSize = reading ? size_t(size) : 0;
        largetable::advise(reading.get(), readingSize);
    }
    char *const bytes = reading.get();
    const size_t capacity = GfxCoreCodec::compressBound(size_t(size));
    if (bytes) {
        packed.bytes.reset(new (std::nothrow) char[capacity]);
        largetable::advise(packed.bytes.get(), packed.bytes ? capacity : 0);
    }
    if (!packed.bytes) {
        packed.problem =
            QStringLiteral("Not enough memory to compress %1 (%2 bytes)").arg(name).arg(size);
        return packed;
    }
    const int64_t read = in.readAt(bytes, size_t(size), 0);
    if (read < 0 || quint64(read) != size) {
        packed.problem =
            read < 0 ? QStringLiteral("cannot read %1: %2").arg(name, systemError())
                     : QStringLiteral("cannot read %1: it shrank while it was read").arg(name);
        packed.bytes.reset();
        return packed;
    }
    const size_t got = size_t(size);
    const bool mustWrap = startsLikeRefp(bytes, got);
    if (level == GfxCoreCodec::kStoreLevel && !mustWrap) {
        packed.bytes.reset();
        return packed;
    }
    const size_t n = GfxCoreCodec::compress(bytes, got, packed.bytes.get(), capacity, level);
    if (n > 0 && (n < got || mustWrap)) {
        packed.size = n;
    } else if (mustWrap) {
        packed.problem = QStringLiteral("cannot store %1: its bytes begin like a Refp stream, "
                                        "and it could not be written as one")
                             .arg(name);
    } else if (capacity >= got) {
        // Stored as read: the file is not opened a second time.
        std::memcpy(packed.bytes.get(), bytes, got);
        packed.size = got;
    } else {
        packed.bytes.reset();
    }
    if (readingSize > kKeptBuffer) { // a rare large file: not kept for the next
        reading.reset();
        readingSize = 0;
    }
    return packed;
}

// True when `file` begins with bytes that read as a Refp header.
bool fileStartsLikeRefp(const HeldFile &file, quint64 size)
{
    char head[16];
    const int64_t got = file.readAt(head, size_t(qMin<quint64>(size, sizeof head)), 0);
    return got > 0 && startsLikeRefp(head, size_t(got));
}

// Appends the file `name` to `out`: `packed` when it holds compressed bytes,
// else the file as it is.
bool appendFile(Sink &out, const QString &name, const Packed *packed, QString &problem)
{
    if (packed && !packed->problem.isEmpty()) {
        problem = packed->problem;
        return false;
    }
    if (packed && packed->bytes) {
        if (out.written() + packed->size > kMaxArchive) {
            problem = tooLarge();
            return false;
        }
        if (!out.write(packed->bytes.get(), packed->size)) {
            problem = out.problem();
            return false;
        }
        return true;
    }
    HeldFile in;
    if (!openInput(in, name, problem))
        return false;
    const quint64 size = in.identity().size;
    if (out.written() + size > kMaxArchive) {
        problem = tooLarge();
        return false;
    }
    // A small file is read whole in one call, and its bytes go out with
    // its neighbours': no call to look at its head, none to copy it.
    constexpr quint64 kSmallFile = 64 * 1024;
    char small[kSmallFile];
    const bool isSmall = size <= kSmallFile;
    if (isSmall) {
        const int64_t got = in.readAt(small, size_t(size), 0);
        if (got < 0 || quint64(got) != size) {
            problem = got < 0 ? QStringLiteral("cannot read %1: %2").arg(name, systemError())
                              : QStringLiteral("cannot read %1: it ended early").arg(name);
            return false;
        }
    }
    if (!packed && (isSmall ? startsLikeRefp(small, size_t(size)) : fileStartsLikeRefp(in, size))) {
        // Rare: about one file of random bytes in 16,000.
        const Packed wrapped = compressFile(name, GfxCoreCodec::kStoreLevel);
        return appendFile(out, name, &wrapped, problem);
    }
    if (isSmall ? !out.write(small, size_t(size)) : !out.copyFrom(in, 0, size, name)) {
        problem = out.problem();
        return false;
    }
    return true;
}

// Compresses the files to be compressed on several threads, a window ahead
// of the writing, which takes each result in directory order: the archive's
// bytes are those of one thread.
class Compressor
{
public:
    Compressor(const std::vector<ArchiveBuilder::Entry> &entries, int level, unsigned threads)
        : entries(entries), level(level), results(entries.size())
    {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].compress && !entries[i].kept)
                jobs.push_back(i);
        }
        window = 4 * kRunFiles * std::max(1u, threads);
        for (unsigned t = 0; t < threads && t < jobs.size(); ++t)
            workers.emplace_back([this] { work(); });
    }

    ~Compressor()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        wake.notify_all();
        for (std::thread &worker : workers)
            worker.join();
    }

    // The result for entry `index` (one that is compressed), once it is ready.
    Packed take(size_t index)
    {
        if (workers.empty())
            return compressFile(entries[index].file, level);
        std::unique_lock<std::mutex> guard(lock);
        waitingFor = index;
        done.wait(guard, [&] { return results[index].ready; });
        waitingFor = size_t(-1);
        ++taken;
        // One more job may start: one worker is enough to wake.
        wake.notify_one();
        return std::move(results[index].packed);
    }

private:
    // Workers take runs of consecutive files, up to kRunFiles of them or
    // kRunBytes, and hand each run's results over at once: one lock and at
    // most one wake-up for the writer per run, not per file.
    static constexpr size_t kRunFiles = 64;
    static constexpr quint64 kRunBytes = 1 << 20;

    void work()
    {
        std::vector<Packed> packed;
        for (;;) {
            size_t first, end;
            {
                std::unique_lock<std::mutex> guard(lock);
                wake.wait(guard, [&] {
                    return stopping || (next < jobs.size() && next < taken + window);
                });
                if (stopping)
                    return;
                first = end = next;
                for (quint64 bytes = 0; end < jobs.size() && end < taken + window &&
                                        end - first < kRunFiles && bytes < kRunBytes;
                     ++end)
                    bytes += entries[jobs[end]].size;
                next = end;
            }
            packed.clear();
            for (size_t j = first; j < end; ++j)
                packed.push_back(compressFile(entries[jobs[j]].file, level));
            bool awaited;
            {
                std::lock_guard<std::mutex> guard(lock);
                for (size_t j = first; j < end; ++j) {
                    results[jobs[j]].packed = std::move(packed[j - first]);
                    results[jobs[j]].ready = true;
                }
                awaited = waitingFor != size_t(-1) && jobs[first] <= waitingFor &&
                          waitingFor <= jobs[end - 1];
            }
            // Only the writer waits for results, and only for one of them.
            if (awaited)
                done.notify_one();
        }
    }

    struct Result
    {
        bool ready = false;
        Packed packed;
    };
    const std::vector<ArchiveBuilder::Entry> &entries;
    const int level;
    std::vector<size_t> jobs;
    std::vector<Result> results;
    size_t window = 2;
    size_t next = 0;                // the next job to start
    size_t taken = 0;               // results written so far
    size_t waitingFor = size_t(-1); // the result the writer waits for
    bool stopping = false;
    std::mutex lock;
    std::condition_variable wake, done;
    std::vector<std::thread> workers;
};

} // namespace

bool ArchiveBuilder::write(const QString &path, QString &problem) const
{
    std::vector<BigEntry> directory(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        directory[i].path = entries[i].path;
    const quint64 dataStart = bigDirectoryEnd(directory);
    if (dataStart > kMaxArchive) {
        problem = tooLarge();
        return false;
    }
    // Without the codec a file whose bytes begin like a Refp stream could
    // not be told apart, and would be stored as one.
    const bool files =
        std::any_of(entries.begin(), entries.end(), [](const Entry &entry) { return !entry.kept; });
    if ((wholeFile || files) && !GfxCoreCodec::isLoaded()) {
        problem = QStringLiteral("the Refp codec (GfxCore) is not available");
        return false;
    }

    // What the archive holds at least, known before writing: a refusal for
    // its size comes before any byte is copied.
    quint64 least = dataStart, sourceBytes = 0, taken = 0;
    for (const Entry &entry : entries) {
        const quint64 size = entry.kept ? source->presentBytes(*entry.kept) : entry.size;
        sourceBytes += size;
        least += entry.kept || !entry.compress ? size : 0;
    }
    if (least > kMaxArchive) {
        problem = tooLarge();
        return false;
    }
    // Kept entries come from the very file whose directory was read.
    const HeldFile *kept = source && !source->compressed ? source->file() : nullptr;

    const unsigned threads =
        this->threads ? this->threads : std::max(1u, std::thread::hardware_concurrency());
    Compressor compressor(entries, level, GfxCoreCodec::isLoaded() ? threads : 0);
    FileSink file;
    MemorySink memory;
    Sink &out = wholeFile ? static_cast<Sink &>(memory) : file;
    if (!wholeFile && !file.file.open(path)) {
        problem = file.problem();
        return false;
    }
    if (!wholeFile && !file.file.canSeek()) {
        problem = QStringLiteral("cannot write the archive to %1: it cannot seek (a pipe?), "
                                 "and the directory is written last; write to a file")
                      .arg(path);
        return false;
    }
    // Room for the directory, written once every entry has its place.
    static const char zeros[4096] = {};
    for (quint64 left = dataStart; left > 0;) {
        const size_t n = size_t(qMin<quint64>(left, sizeof zeros));
        if (!out.write(zeros, n)) {
            problem = out.problem();
            return false;
        }
        left -= n;
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries[i];
        const quint64 start = out.written();
        if (entry.kept) {
            const quint64 present = source->presentBytes(*entry.kept);
            if (start + present > kMaxArchive) {
                problem = tooLarge();
                return false;
            }
            if (kept) {
                if (!out.copyFrom(*kept, quint32(entry.kept->offset), present, source->path)) {
                    problem = out.problem();
                    return false;
                }
            } else {
                const EntryRead read = source->readEntryPieces(
                    *entry.kept, [&](const char *p, size_t n) { return out.write(p, n); });
                if (read != EntryRead::Whole && read != EntryRead::Truncated) {
                    problem = read == EntryRead::Stopped
                                  ? out.problem()
                                  : QStringLiteral("cannot read %1").arg(source->path);
                    return false;
                }
            }
        } else {
            Packed packed;
            if (entry.compress && GfxCoreCodec::isLoaded())
                packed = compressor.take(i);
            if (!appendFile(out, entry.file, entry.compress ? &packed : nullptr, problem))
                return false;
        }
        directory[i].offset = qint32(quint32(start));
        directory[i].size = qint32(quint32(out.written() - start));
        taken += entry.kept ? source->presentBytes(*entry.kept) : entry.size;
        if (progress)
            progress(i + 1, entries.size(), taken, sourceBytes);
    }
    const QByteArray header = bigHeaderAndDirectory(directory, quint32(out.written()));
    if (!out.writeAt(header.constData(), size_t(header.size()), 0)) {
        problem = out.problem();
        return false;
    }
    if (!wholeFile) {
        if (beforeCommit && !beforeCommit(problem))
            return false;
        if (file.file.commit()) {
            caveat = file.file.caveat();
            return true;
        }
        problem = file.problem();
        return false;
    }

    // The whole image as one Refp stream.
    const size_t capacity = GfxCoreCodec::compressBound(memory.size);
    std::unique_ptr<char[]> packed(new (std::nothrow) char[capacity]);
    if (!packed) {
        problem =
            QStringLiteral("Not enough memory to compress the archive (%1 bytes)").arg(memory.size);
        return false;
    }
    const size_t n =
        GfxCoreCodec::compress(memory.bytes.get(), memory.size, packed.get(), capacity);
    memory.bytes.reset();
    if (n == 0) {
        problem = QStringLiteral("cannot compress the archive");
        return false;
    }
    AtomicFile whole;
    if (whole.open(path) && whole.write(packed.get(), n) &&
        (!beforeCommit || beforeCommit(problem)) && whole.commit()) {
        caveat = whole.caveat();
        return true;
    }
    if (problem.isEmpty())
        problem = whole.problem();
    return false;
}
