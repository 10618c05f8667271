#include "archivebuilder.h"

#include "atomicfile.h"
#include "bigwriter.h"
#include "gfxcorecodec.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The format's offsets and sizes are 32-bit.
constexpr quint64 kMaxArchive = 0xFFFFFFFFull;

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

struct Mapping
{
    void *address = MAP_FAILED;
    size_t length = 0;
    ~Mapping()
    {
        if (address != MAP_FAILED)
            ::munmap(address, length);
    }
};

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
    // Appends `length` bytes of the file `fd` from `offset`.
    virtual bool copyFrom(int fd, quint64 offset, quint64 length, const QString &name) = 0;
    virtual bool writeAt(const char *data, size_t n, quint64 position) = 0;
    virtual quint64 written() const = 0;
    virtual QString problem() const = 0;
};

class FileSink : public Sink
{
public:
    AtomicFile file;
    bool write(const char *data, size_t n) override { return file.write(data, n); }
    bool copyFrom(int fd, quint64 offset, quint64 length, const QString &name) override
    {
        return file.copyFrom(fd, offset, length, name);
    }
    bool writeAt(const char *data, size_t n, quint64 position) override
    {
        return file.writeAt(data, n, position);
    }
    quint64 written() const override { return file.written(); }
    QString problem() const override { return file.problem(); }
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
    bool copyFrom(int fd, quint64 offset, quint64 length, const QString &name) override
    {
        if (!reserve(size_t(length)))
            return false;
        while (length > 0) {
            const ssize_t got = ::pread(fd, bytes.get() + size, size_t(length), off_t(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                failure = got < 0 ? QStringLiteral("cannot read %1: %2").arg(name, systemError())
                                  : QStringLiteral("cannot read %1: it ended early").arg(name);
                return false;
            }
            size += size_t(got);
            offset += quint64(got);
            length -= quint64(got);
        }
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

// Appends the file `name` to `out`, Refp-compressed when asked and smaller.
bool appendFile(Sink &out, const QString &name, bool compress, QString &problem)
{
    Descriptor in;
    in.fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (in.fd < 0 || ::fstat(in.fd, &info) != 0) {
        problem = QStringLiteral("cannot read %1: %2").arg(name, systemError());
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        problem = QStringLiteral("%1 is not a regular file").arg(name);
        return false;
    }
    const quint64 size = quint64(info.st_size);
    if (out.written() + size > kMaxArchive) {
        problem = tooLarge();
        return false;
    }
    if (compress && size > 0 && GfxCoreCodec::isLoaded()) {
        Mapping map;
        map.length = size_t(size);
        map.address = ::mmap(nullptr, map.length, PROT_READ, MAP_PRIVATE, in.fd, 0);
        if (map.address == MAP_FAILED) {
            problem = QStringLiteral("cannot read %1: %2").arg(name, systemError());
            return false;
        }
        const size_t capacity = GfxCoreCodec::compressBound(map.length);
        std::unique_ptr<char[]> packed(new (std::nothrow) char[capacity]);
        if (!packed) {
            problem =
                QStringLiteral("Not enough memory to compress %1 (%2 bytes)").arg(name).arg(size);
            return false;
        }
        const size_t n = GfxCoreCodec::compress(map.address, map.length, packed.get(), capacity);
        if (n > 0 && n < map.length) {
            if (!out.write(packed.get(), n)) {
                problem = out.problem();
                return false;
            }
            return true;
        }
    }
    if (!out.copyFrom(in.fd, 0, size, name)) {
        problem = out.problem();
        return false;
    }
    return true;
}

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
    if (wholeFile && !GfxCoreCodec::isLoaded()) {
        problem = QStringLiteral("the Refp codec (GfxCore) is not available");
        return false;
    }

    Descriptor kept;
    if (source && !source->compressed && !source->path.isEmpty()) {
        kept.fd = ::open(QFile::encodeName(source->path).constData(), O_RDONLY | O_CLOEXEC);
        if (kept.fd < 0) {
            problem = QStringLiteral("cannot read %1: %2").arg(source->path, systemError());
            return false;
        }
    }

    FileSink file;
    MemorySink memory;
    Sink &out = wholeFile ? static_cast<Sink &>(memory) : file;
    if (!wholeFile && !file.file.open(path)) {
        problem = file.problem();
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
            if (kept.fd >= 0) {
                if (!out.copyFrom(kept.fd, quint32(entry.kept->offset), present, source->path)) {
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
        } else if (!appendFile(out, entry.file, entry.compress, problem)) {
            return false;
        }
        directory[i].offset = qint32(quint32(start));
        directory[i].size = qint32(quint32(out.written() - start));
        if (progress)
            progress(i + 1, entries.size());
    }
    const QByteArray header = bigHeaderAndDirectory(directory, quint32(out.written()));
    if (!out.writeAt(header.constData(), size_t(header.size()), 0)) {
        problem = out.problem();
        return false;
    }
    if (!wholeFile) {
        if (file.file.commit())
            return true;
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
    return writeFileAtomically(path, packed.get(), n, problem);
}
