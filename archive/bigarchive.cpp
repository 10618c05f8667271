#include "bigarchive.h"

#include "archivefolder.h"
#include "gfxcorecodec.h"

#include <QFile>

#include <cstring>
#include <limits>
#include <new>

namespace {

// The largest QByteArray that can be asked for.
constexpr quint64 kMaxBytes = quint64(std::numeric_limits<int>::max()) - 64;
// How much of a plain archive's directory is read at once when the header's
// length field gives no usable hint.
constexpr qint64 kChunk = 64 * 1024;

quint32 littleEndian32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint32 bigEndian32(const uchar *p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// The bytes of an archive's header and directory: either a whole image in
// memory, or a plain file read a piece at a time as parsing needs it.
class DirectoryBytes
{
public:
    DirectoryBytes(const char *image, size_t size) : memory(image), memorySize(size) {}
    // Starts with the bytes already read from the front of the file.
    DirectoryBytes(QFile *file, const QByteArray &front) : file(file), buffer(front) {}

    const uchar *data() const
    {
        return reinterpret_cast<const uchar *>(file ? buffer.constData() : memory);
    }
    size_t size() const { return file ? size_t(buffer.size()) : memorySize; }

    // Reads up to `n` more bytes from the file. False when nothing more comes.
    bool more(qint64 n = kChunk)
    {
        if (!file || file->atEnd())
            return false;
        const QByteArray piece = file->read(qMin(n, qint64(kMaxBytes) - buffer.size()));
        bytesRead += quint64(piece.size());
        buffer += piece;
        return !piece.isEmpty();
    }

    // True when `n` bytes stand at `pos`, reading more as needed.
    bool have(size_t pos, size_t n)
    {
        while (size() < pos + n) {
            if (!more())
                return false;
        }
        return true;
    }

    quint64 bytesRead = 0;

private:
    QFile *file = nullptr;
    QByteArray buffer;
    const char *memory = nullptr;
    size_t memorySize = 0;
};

struct Parsed
{
    quint32 entryCount = 0;
    quint32 archiveSize = 0;
    quint32 headerLength = 0;
    std::vector<BigEntry> entries;
};

// Header fields cut off by the end read as 0.
quint32 field(DirectoryBytes &bytes, size_t pos, bool little)
{
    if (!bytes.have(pos, 4))
        return 0;
    return little ? littleEndian32(bytes.data() + pos) : bigEndian32(bytes.data() + pos);
}

// Parses the header (signature already checked) and the directory.
Parsed parse(DirectoryBytes &bytes)
{
    Parsed p;
    p.archiveSize = field(bytes, 4, true);
    p.entryCount = field(bytes, 8, false);
    p.headerLength = field(bytes, 12, false);
    size_t pos = 16;
    for (quint32 i = 0; i < p.entryCount; ++i) {
        if (!bytes.have(pos, 8))
            break;
        BigEntry entry;
        entry.offset = qint32(bigEndian32(bytes.data() + pos));
        entry.size = qint32(bigEndian32(bytes.data() + pos + 4));
        pos += 8;
        // The path runs to its 0 byte, or to the end of the bytes.
        size_t searched = pos;
        const void *nul = nullptr;
        for (;;) {
            nul = std::memchr(bytes.data() + searched, 0, bytes.size() - searched);
            searched = bytes.size();
            if (nul || !bytes.more())
                break;
        }
        const size_t end =
            nul ? size_t(static_cast<const uchar *>(nul) - bytes.data()) : bytes.size();
        entry.path = QByteArray(reinterpret_cast<const char *>(bytes.data() + pos), int(end - pos));
        pos = nul ? end + 1 : end;
        p.entries.push_back(std::move(entry));
    }
    return p;
}

} // namespace

struct BigArchive::Image
{
    std::unique_ptr<char[]> data;
    size_t size = 0;
};

BigArchive::BigArchive() = default;
BigArchive::~BigArchive() = default;

BigArchive::Status BigArchive::open(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Status::CannotOpen;
    const quint64 onDisk = quint64(file.size());
    const QByteArray head = file.read(16);
    quint64 readCount = quint64(head.size());

    if (GfxCoreCodec::isCompressed(head.constData(), size_t(head.size()))) {
        // The whole file is one Refp stream: read it all and unpack it.
        const QByteArray rest = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return Status::CannotOpen;
        return openImage(head + rest, readCount + quint64(rest.size()), filePath);
    }
    if (head.size() < 4 || !head.startsWith("BIGF"))
        return Status::NotBig;
    // The header's length field usually says where the directory ends: read
    // that much at once, and more only if parsing needs it.
    DirectoryBytes bytes(&file, head);
    const quint64 hint =
        head.size() == 16 ? bigEndian32(reinterpret_cast<const uchar *>(head.constData()) + 12) : 0;
    if (hint > 16 && hint <= onDisk)
        bytes.more(qint64(hint) - 16);
    Parsed parsed = parse(bytes);
    if (file.error() != QFileDevice::NoError)
        return Status::CannotOpen;

    entryCount = parsed.entryCount;
    archiveSize = parsed.archiveSize;
    headerLength = parsed.headerLength;
    entries = std::move(parsed.entries);
    compressed = false;
    fileSize = onDisk;
    imageSize = onDisk;
    bytesRead = readCount + bytes.bytesRead;
    path = filePath;
    image.reset();
    return Status::Ok;
}

BigArchive::Status BigArchive::openMemory(const QByteArray &bytes)
{
    return openImage(bytes, 0, QString());
}

// The whole archive in memory: unpacked when it is one Refp stream, and kept
// either way, since the entries are read from it.
BigArchive::Status BigArchive::openImage(const QByteArray &whole, quint64 readCount,
                                         const QString &filePath)
{
    auto kept = std::make_unique<Image>();
    const bool isStream = GfxCoreCodec::isCompressed(whole.constData(), size_t(whole.size()));
    if (isStream) {
        const uint32_t n = GfxCoreCodec::unpackedSize(whole.constData(), size_t(whole.size()));
        // A stream that declares nothing leaves its own bytes, which do not
        // start with the signature.
        if (n == 0)
            return Status::NotBig;
        kept->data.reset(new (std::nothrow) char[n]);
        kept->size = n;
        if (!kept->data ||
            !GfxCoreCodec::unpack(whole.constData(), size_t(whole.size()), kept->data.get(), n))
            return Status::DamagedCompression;
    } else {
        kept->data.reset(new (std::nothrow) char[size_t(whole.size())]);
        kept->size = size_t(whole.size());
        if (!kept->data)
            return Status::CannotOpen;
        std::memcpy(kept->data.get(), whole.constData(), kept->size);
    }
    if (kept->size < 4 || std::memcmp(kept->data.get(), "BIGF", 4) != 0)
        return Status::NotBig;
    DirectoryBytes bytes(kept->data.get(), kept->size);
    Parsed parsed = parse(bytes);

    entryCount = parsed.entryCount;
    archiveSize = parsed.archiveSize;
    headerLength = parsed.headerLength;
    entries = std::move(parsed.entries);
    compressed = isStream;
    fileSize = quint64(whole.size());
    imageSize = kept->size;
    bytesRead = readCount;
    path = filePath;
    image = std::move(kept);
    return Status::Ok;
}

bool BigArchive::readEntry(quint32 offset, quint32 size, QByteArray &out) const
{
    if (size > imageSize || size > kMaxBytes)
        return false;
    QByteArray bytes;
    try {
        bytes = QByteArray(int(size), '\0');
    } catch (const std::bad_alloc &) {
        return false;
    }
    const quint64 available = offset < imageSize ? qMin<quint64>(size, imageSize - offset) : 0;
    if (image) {
        std::memcpy(bytes.data(), image->data.get() + offset, size_t(available));
    } else if (available > 0) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(offset))
            return false;
        // A file that shrank since it was opened leaves zeros.
        if (file.read(bytes.data(), qint64(available)) < 0)
            return false;
    }
    out = bytes;
    return true;
}

void buildFolderTree(ArchiveFolder &root, const std::vector<BigEntry> &entries)
{
    // Directories are usually sorted, so consecutive entries tend to share
    // their folder: remember the last one rather than walk the tree again.
    QByteArray lastDirectory;
    ArchiveFolder *lastFolder = nullptr;
    for (const BigEntry &entry : entries) {
        const int cut = entry.path.lastIndexOf('\\');
        ArchiveFolder *folder = &root;
        if (cut >= 0) {
            if (lastFolder && lastDirectory.size() == cut &&
                std::memcmp(lastDirectory.constData(), entry.path.constData(), size_t(cut)) == 0) {
                folder = lastFolder;
            } else {
                lastDirectory = entry.path.left(cut);
                for (const QByteArray &part : lastDirectory.split('\\'))
                    folder = folder->obtainFolder(QString::fromLatin1(part));
                lastFolder = folder;
            }
        }
        const QString name =
            QString::fromLatin1(entry.path.constData() + cut + 1, entry.path.size() - cut - 1);
        folder->files.append(new ArchiveFile(folder, name, entry.size, entry.offset));
    }
}

UnpackResult unpackIfCompressed(QByteArray &bytes)
{
    const uint32_t n = GfxCoreCodec::unpackedSize(bytes.constData(), size_t(bytes.size()));
    if (n == 0)
        return UnpackResult::Plain;
    if (n > kMaxBytes)
        return UnpackResult::Damaged;
    QByteArray out;
    try {
        out = QByteArray(int(n), Qt::Uninitialized);
    } catch (const std::bad_alloc &) {
        return UnpackResult::Damaged;
    }
    if (!GfxCoreCodec::unpack(bytes.constData(), size_t(bytes.size()), out.data(), n))
        return UnpackResult::Damaged;
    bytes = out;
    return UnpackResult::Unpacked;
}
