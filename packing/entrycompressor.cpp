#include "entrycompressor.h"

#include "atomicfile.h"
#include "entrydata.h"
#include "gfxcorecodec.h"
#include "largetable.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

// The largest stream a Refp header declares.
constexpr quint64 kMaxStream = 0xFFFFFFFFull;

} // namespace

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

Packed compressFile(const QString &name, quint64 chosen, int level)
{
    Packed packed;
    HeldFile in;
    if (!openInput(in, name, packed.problem))
        return packed;
    packed.changed = in.identity().size != chosen;
    const quint64 size = std::min(in.identity().size, chosen);
    if (size == 0 || size > kMaxStream)
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
    packed.changed = packed.changed || !in.isUnchanged();
    const size_t got = size_t(size);
    const bool mustWrap = startsLikeRefp(bytes, got);
    if (level == GfxCoreCodec::kStoreLevel && !mustWrap) {
        packed.bytes.reset();
        return packed;
    }
    const size_t n = level == kAsStored && !mustWrap
                         ? 0
                         : GfxCoreCodec::compress(bytes, got, packed.bytes.get(), capacity,
                                                  std::max(level, GfxCoreCodec::kStoreLevel));
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

quint32 Compressor::partsOf(const ArchiveBuilder::Entry &entry, int level)
{
    if (!entry.compress || entry.kept || level < 1 || entry.size <= kPartedFile ||
        entry.size > kMaxStream)
        return 0;
    return quint32((entry.size + kPart - 1) / kPart);
}

Compressor::Compressor(const std::vector<ArchiveBuilder::Entry> &entries, int level,
                       unsigned threads)
    : entries(entries), level(level), perEntry(entries.size())
{
    jobs.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        perEntry[i].firstJob = jobs.size();
        if (entries[i].kept)
            continue;
        if (!entries[i].compress) {
            if (entries[i].size <= kReadAhead && threads > 1) {
                perEntry[i].hasJob = true;
                jobs.emplace_back(i, kWhole, entries[i].size);
            }
            continue;
        }
        perEntry[i].hasJob = true;
        const quint32 parts = partsOf(entries[i], level);
        if (parts == 0) {
            jobs.emplace_back(i, kWhole, entries[i].size);
            continue;
        }
        perEntry[i].source = std::make_unique<Source>();
        for (quint32 part = 0; part < parts; ++part)
            jobs.emplace_back(i, part, std::min(kPart, entries[i].size - part * kPart));
    }
    const unsigned workerCount = std::max(1u, threads);
    // The window counts results, the budget their bytes. While the writer
    // waits for one long job (a file of up to kPartedFile, slow to
    // compress), the other workers go on within the budget: a window of a
    // few runs would stop them after a few hundred small files.
    window = 64 * kRunFiles * workerCount;
    budget = 4 * std::max(kPart, kRunBytes) * workerCount;
    for (unsigned t = 0; t < threads && t < jobs.size(); ++t)
        workers.emplace_back([this] { work(); });
}

Compressor::~Compressor()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread &worker : workers)
        worker.join();
}

Packed Compressor::take(size_t job)
{
    if (workers.empty())
        return run(jobs[job]);
    std::unique_lock<std::mutex> guard(lock);
    waitingFor = job;
    done.wait(guard, [&] { return jobs[job].ready; });
    waitingFor = size_t(-1);
    ++taken;
    inFlight -= jobs[job].bytes;
    // One more job may start: one worker is enough to wake.
    wake.notify_one();
    return std::move(jobs[job].packed);
}

Packed Compressor::run(const Job &job)
{
    const ArchiveBuilder::Entry &entry = entries[job.entry];
    if (job.part != kWhole)
        return compressPart(job);
    return compressFile(entry.file, entry.size, entry.compress ? level : kAsStored);
}

Packed Compressor::compressPart(const Job &job)
{
    const ArchiveBuilder::Entry &entry = entries[job.entry];
    Source &source = *perEntry[job.entry].source;
    std::call_once(source.opened, [&] { openInput(source.file, entry.file, source.problem); });
    Packed packed;
    if (!source.problem.isEmpty()) {
        packed.problem = source.problem;
        return packed;
    }
    if (source.file.identity().size != entry.size) {
        packed.changed = true;
        return packed;
    }
    // The part and the history before it, in a buffer this thread keeps.
    const size_t history = size_t(std::min<quint64>(job.part * kPart, GfxCoreCodec::kPartHistory));
    const quint64 start = quint64(job.part) * kPart;
    const size_t length = size_t(job.bytes);
    thread_local std::unique_ptr<char[]> reading;
    if (!reading)
        reading.reset(new (std::nothrow) char[kPart + GfxCoreCodec::kPartHistory]);
    const size_t capacity = GfxCoreCodec::compressBound(length);
    if (reading)
        packed.bytes.reset(new (std::nothrow) char[capacity]);
    if (!packed.bytes) {
        packed.problem = QStringLiteral("Not enough memory to compress %1").arg(entry.file);
        return packed;
    }
    const int64_t read = source.file.readAt(reading.get(), history + length, start - history);
    if (read < 0) {
        packed.problem = QStringLiteral("cannot read %1: %2").arg(entry.file, systemError());
        packed.bytes.reset();
        return packed;
    }
    if (quint64(read) != history + length) { // it shrank since it was opened
        packed.changed = true;
        packed.bytes.reset();
        return packed;
    }
    packed.history = QByteArray(reading.get(), int(history));
    const size_t tail = std::min(length, GfxCoreCodec::kPartHistory);
    packed.tail = QByteArray(reading.get() + history + length - tail, int(tail));
    packed.size = GfxCoreCodec::compressPart(reading.get(), history, length, start, entry.size,
                                             packed.bytes.get(), capacity, level);
    if (packed.size == 0) {
        packed.problem = QStringLiteral("cannot compress %1").arg(entry.file);
        packed.bytes.reset();
    }
    if (job.part == 0)
        packed.wrap = startsLikeRefp(reading.get() + history, length);
    return packed;
}

void Compressor::work()
{
    std::vector<Packed> packed;
    for (;;) {
        size_t first, end;
        {
            std::unique_lock<std::mutex> guard(lock);
            // Within the window and the budget; a job larger than the budget
            // starts when nothing else is in flight.
            wake.wait(guard, [&] {
                return stopping || (next < jobs.size() && next < taken + window &&
                                    (inFlight == 0 || inFlight + jobs[next].bytes <= budget));
            });
            if (stopping)
                return;
            first = end = next;
            for (quint64 bytes = 0;
                 end < jobs.size() && end < taken + window && end - first < kRunFiles &&
                 bytes < kRunBytes && (end == first || inFlight + jobs[end].bytes <= budget);
                 ++end) {
                bytes += jobs[end].bytes;
                inFlight += jobs[end].bytes;
            }
            next = end;
        }
        packed.clear();
        for (size_t j = first; j < end; ++j)
            packed.push_back(run(jobs[j]));
        bool awaited;
        {
            std::lock_guard<std::mutex> guard(lock);
            for (size_t j = first; j < end; ++j) {
                jobs[j].packed = std::move(packed[j - first]);
                jobs[j].ready = true;
            }
            awaited = waitingFor != size_t(-1) && first <= waitingFor && waitingFor < end;
        }
        // Only the writer waits for results, and only for one of them.
        if (awaited)
            done.notify_one();
    }
}
