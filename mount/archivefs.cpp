#include "archivefs.h"

#include "entrydata.h"
#include "gfxcorecodec.h"
#include "heldfile.h"
#include "safepath.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace {

std::string utf8(const QByteArray &component)
{
    return QString::fromLatin1(component).toUtf8().toStdString();
}

} // namespace

ArchiveFs::ArchiveFs(const BigArchive &archive, bool raw, uint64_t cacheBytes)
    : archive(archive), cacheBudget(cacheBytes)
{
    nodes.push_back(Node{std::string(), true, -1, {}, nullptr, false, 0});
    index.emplace_back();
    // Entries come from the file whose directory was read, whatever becomes
    // of its name.
    if (!archive.keptImage() && archive.file())
        fd = archive.file()->handle();

    std::vector<const BigEntry *> all;
    for (const BigEntry &entry : archive.entries)
        all.push_back(&entry);
    std::vector<EntryStorage> storage;
    if (raw || !entryStorage(archive, all, storage))
        storage.assign(all.size(), EntryStorage());

    // Names that extract accepts, "/" included among the refused: in a
    // mounted tree it would be a separator the entry never had.
    std::vector<QList<QByteArray>> parts(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        const QByteArray &path = all[i]->path;
        if (!safeEntryPath(path) || path.contains('/')) {
            warnings << QStringLiteral("left out %1: extract would refuse its name")
                            .arg(all[i]->pathText());
            continue;
        }
        parts[i] = path.split('\\');
    }
    // Folders first, so that a folder keeps its name against any file.
    for (const QList<QByteArray> &components : parts) {
        int folder = 0;
        for (int k = 0; k + 1 < components.size(); ++k) {
            const std::string name = utf8(components[k]);
            const int found = child(folder, name);
            folder = found >= 0 ? found : add(folder, name, true);
        }
    }
    for (size_t i = 0; i < all.size(); ++i) {
        if (parts[i].isEmpty())
            continue;
        int folder = 0;
        for (int k = 0; k + 1 < parts[i].size(); ++k)
            folder = child(folder, utf8(parts[i][k]));
        const std::string wanted = utf8(parts[i].last());
        std::string name = wanted;
        for (int n = 1; child(folder, name) >= 0; ++n)
            name = wanted + "~" + std::to_string(n);
        if (name != wanted)
            warnings << QStringLiteral("%1 is shown as %2: its name is taken")
                            .arg(all[i]->pathText(), QString::fromStdString(name));
        const int file = add(folder, name, false);
        Node &node = nodes[size_t(file)];
        node.entry = all[i];
        node.compressed = storage[i].compressed();
        node.size = node.compressed ? storage[i].unpackedSize : archive.presentBytes(*all[i]);
        if (node.compressed && node.size > cacheBudget)
            warnings << QStringLiteral("%1 unpacks to %2 bytes, more than the mount's cache of "
                                       "%3: it cannot be read (EFBIG)")
                            .arg(all[i]->pathText())
                            .arg(node.size)
                            .arg(cacheBudget);
        if (!node.compressed && node.size < quint32(all[i]->size))
            warnings << QStringLiteral("%1 reaches past the end of the archive: only %2 of its "
                                       "%3 bytes exist, and it is shown short")
                            .arg(all[i]->pathText())
                            .arg(node.size)
                            .arg(quint32(all[i]->size));
        if (storage[i].form == EntryForm::Undecodable)
            warnings << QStringLiteral("%1 %2: it is shown as stored")
                            .arg(all[i]->pathText(), undecodableText());
    }
}

ArchiveFs::~ArchiveFs() = default;

int ArchiveFs::child(int folder, const std::string &name) const
{
    const auto &children = index[size_t(folder)];
    const auto found = children.find(name);
    return found == children.end() ? -1 : found->second;
}

uint64_t ArchiveFs::storedOffset(int index) const
{
    return uint64_t(quint32(nodes[size_t(index)].entry->offset));
}

int ArchiveFs::add(int folder, const std::string &name, bool isFolder)
{
    const int made = int(nodes.size());
    nodes.push_back(Node{name, isFolder, folder, {}, nullptr, false, 0});
    index.emplace_back();
    nodes[size_t(folder)].children.push_back(made);
    index[size_t(folder)].emplace(name, made);
    return made;
}

void ArchiveFs::use(int index)
{
    Cached &entry = cache[index];
    recent.splice(recent.begin(), recent, entry.place);
}

std::shared_ptr<const ArchiveFs::Bytes> ArchiveFs::unpacked(int file, int &error)
{
    const Node &node = nodes[size_t(file)];
    if (node.size > cacheBudget) {
        error = EFBIG;
        return nullptr;
    }
    std::unique_lock<std::mutex> guard(cacheLock);
    // One unpacking per entry: a second opener waits for the first.
    for (;;) {
        const auto found = cache.find(file);
        if (found != cache.end()) {
            use(file);
            return found->second.bytes;
        }
        if (unpacking.count(file) == 0)
            break;
        unpackedOne.wait(guard);
    }
    // Room for it: the least recently used that no open file holds go.
    for (auto it = recent.end();
         it != recent.begin() && alive + reserved + node.size > cacheBudget;) {
        --it;
        if (cache[*it].bytes.use_count() == 1) {
            cache.erase(*it);
            it = recent.erase(it);
        }
    }
    if (alive + reserved + node.size > cacheBudget) {
        error = ENOMEM;
        return nullptr;
    }
    reserved += node.size;
    unpacking[file] = true;
    guard.unlock();

    // Unpacked without the lock, so that other files go on being read. No
    // valid stream is more than a quarter larger than what it unpacks to: a
    // longer one is damage, and is not read into memory.
    std::shared_ptr<Bytes> bytes;
    const uint64_t length = archive.presentBytes(*node.entry);
    std::unique_ptr<char[]> stored(
        length <= node.size + node.size / 4 + 64 ? new (std::nothrow) char[length] : nullptr);
    if (stored && readStored(*node.entry, 0, length, stored.get()) == int64_t(length) &&
        GfxCoreCodec::unpackedSize(stored.get(), length) == node.size) {
        std::unique_ptr<Bytes> made(new (std::nothrow) Bytes);
        if (made)
            made->data.reset(new (std::nothrow) char[node.size]);
        if (made && made->data &&
            GfxCoreCodec::unpack(stored.get(), length, made->data.get(), node.size)) {
            made->size = node.size;
            alive += node.size;
            bytes.reset(made.release(), [this](Bytes *b) {
                alive -= b->size;
                delete b;
            });
        }
    }
    stored.reset();

    guard.lock();
    reserved -= node.size;
    unpacking.erase(file);
    if (bytes) {
        recent.push_front(file);
        cache[file] = Cached{bytes, recent.begin()};
    }
    guard.unlock();
    unpackedOne.notify_all();
    error = EIO;
    return bytes;
}

int64_t ArchiveFs::read(int file, const Bytes *unpackedBytes, char *out, uint64_t size,
                        uint64_t offset) const
{
    const Node &node = nodes[size_t(file)];
    if (offset >= node.size)
        return 0;
    const uint64_t n = std::min(size, node.size - offset);
    if (node.compressed) {
        if (!unpackedBytes)
            return -EIO;
        std::memcpy(out, unpackedBytes->data.get() + offset, n);
        return int64_t(n);
    }
    return readStored(*node.entry, offset, n, out);
}

int64_t ArchiveFs::readStored(const BigEntry &entry, uint64_t offset, uint64_t n, char *out) const
{
    const uint64_t at = uint64_t(quint32(entry.offset)) + offset;
    if (const char *image = archive.keptImage()) {
        std::memcpy(out, image + at, n);
        return int64_t(n);
    }
    if (fd < 0)
        return -EIO;
    uint64_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, out + done, n - done, off_t(at + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -EIO;
        if (got == 0)
            return -EIO; // the archive shrank since it was mounted
        done += uint64_t(got);
    }
    return int64_t(done);
}
