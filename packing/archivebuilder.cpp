#include "archivebuilder.h"

#include "atomicfile.h"
#include "bigwriter.h"
#include "entrycompressor.h"
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
    // Cuts what was written back to `length` bytes.
    virtual bool truncate(quint64 length) = 0;
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
    bool truncate(quint64 length) override
    {
        if (length >= file.written()) {
            pending = size_t(length - file.written());
            return true;
        }
        pending = 0;
        return file.truncate(length);
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
    bool truncate(quint64 length) override
    {
        size = size_t(length);
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

// True when `file` begins with bytes that read as a Refp header.
bool fileStartsLikeRefp(const HeldFile &file, quint64 size)
{
    char head[16];
    const int64_t got = file.readAt(head, size_t(qMin<quint64>(size, sizeof head)), 0);
    return got > 0 && startsLikeRefp(head, size_t(got));
}

// Appends the file of `entry` to `out`: `packed` when it holds compressed
// bytes, else the file as it is, no more than its chosen size. `changed` is
// set when the file is not as it was chosen.
bool appendFile(Sink &out, const ArchiveBuilder::Entry &entry, const Packed *packed, bool &changed,
                QString &problem)
{
    const QString &name = entry.file;
    if (packed && !packed->problem.isEmpty()) {
        problem = packed->problem;
        return false;
    }
    if (packed && packed->bytes) {
        changed = changed || packed->changed;
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
    changed = changed || in.identity().size != entry.size;
    const quint64 size = std::min(in.identity().size, entry.size);
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
        const Packed wrapped = compressFile(name, entry.size, GfxCoreCodec::kStoreLevel);
        return appendFile(out, entry, &wrapped, changed, problem);
    }
    if (isSmall ? !out.write(small, size_t(size)) : !out.copyFrom(in, 0, size, name)) {
        problem = out.problem();
        return false;
    }
    changed = changed || !in.isUnchanged();
    return true;
}

// Appends entry `index`, compressed in parts, as one stream; or, when the
// stream is not smaller than the file, the file as it is. When the file
// changed while its parts were read, so that a part may have matched
// against bytes the part before it did not hold, the parts are given up
// and the file goes in as it now is.
bool appendParts(Sink &out, Compressor &compressor, size_t index,
                 const ArchiveBuilder::Entry &entry, int level, bool &changed, QString &problem)
{
    const quint64 start = out.written();
    const quint32 parts = Compressor::partsOf(entry, level);
    bool wrap = false, broken = false;
    QByteArray tail; // of the part before
    for (quint32 part = 0; part < parts; ++part) {
        // Every part is taken, also after the file turned out to have changed.
        const Packed packed = compressor.take(compressor.firstJob(index) + part);
        if (!packed.problem.isEmpty()) {
            problem = packed.problem;
            return false;
        }
        broken = broken || packed.changed || packed.history != tail;
        tail = packed.tail;
        if (broken)
            continue;
        wrap = wrap || packed.wrap;
        if (out.written() + packed.size > kMaxArchive) {
            problem = tooLarge();
            return false;
        }
        if (!out.write(packed.bytes.get(), packed.size)) {
            problem = out.problem();
            return false;
        }
    }
    // Each part holds what it read, and the history it read is what the
    // part before it held: the stream is whole, though the file may have
    // been written elsewhere meanwhile.
    changed = changed || broken || !compressor.source(index).isUnchanged();
    if (!broken && (wrap || out.written() - start < entry.size)) {
        compressor.release(index);
        return true;
    }
    if (!out.truncate(start)) {
        problem = out.problem();
        return false;
    }
    if (broken) { // as it is now, read again
        compressor.release(index);
        return appendFile(out, entry, nullptr, changed, problem);
    }
    if (start + entry.size > kMaxArchive) {
        problem = tooLarge();
        return false;
    }
    const bool copied = out.copyFrom(compressor.source(index), 0, entry.size, entry.file);
    compressor.release(index);
    if (!copied)
        problem = out.problem();
    return copied;
}

} // namespace

bool ArchiveBuilder::write(const QString &path, QString &problem) const
{
    caveat.clear();
    changed.clear();
    BigEntries directory(entries.size());
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
            bool fileChanged = false;
            if (entry.compress && GfxCoreCodec::isLoaded() &&
                Compressor::partsOf(entry, level) > 0) {
                if (!appendParts(out, compressor, i, entry, level, fileChanged, problem))
                    return false;
            } else {
                // Compressed, or a small stored file read ahead.
                const bool ahead =
                    compressor.hasJob(i) && (!entry.compress || GfxCoreCodec::isLoaded());
                Packed packed;
                if (ahead)
                    packed = compressor.take(compressor.firstJob(i));
                if (!appendFile(out, entry, ahead ? &packed : nullptr, fileChanged, problem))
                    return false;
            }
            if (fileChanged)
                changed.append(entry.file);
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
        if (file.file.commit(replaces)) {
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
    if (whole.open(path) && whole.write(packed.get(), n) && whole.commit(replaces)) {
        caveat = whole.caveat();
        return true;
    }
    problem = whole.problem();
    return false;
}
