#include "archivefs.h"

#include "entrydata.h"
#include "gfxcorecodec.h"
#include "heldfile.h"
#include "largetable.h"
#include "safepath.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <unistd.h>
#include <unordered_set>

namespace {

constexpr uint64_t kLearned = 1ull << 63;
constexpr uint64_t kCompressed = 1ull << 62;
constexpr uint64_t kSize = (1ull << 62) - 1;

// Each byte of a stored name is the character of its code: in UTF-8, one
// byte below 0x80 and two from there.
void appendUtf8(std::string &out, const char *name, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
}

uint64_t hashOf(int folder, const char *name, size_t length)
{
    uint64_t h = 1469598103934665603ull ^ uint64_t(uint32_t(folder));
    for (size_t i = 0; i < length; ++i)
        h = (h ^ static_cast<unsigned char>(name[i])) * 1099511628211ull;
    return h ^ (h >> 29);
}

// Names that extract accepts, "/" included among the refused: in a mounted
// tree it would be a separator the entry never had.
bool accepted(const QByteArray &path)
{
    return isSafeEntryPath(path.constData(), size_t(path.size())) && !path.contains('/');
}

// The name table is read by lookups while build() adds files to it: a slot
// is written last, once its node and name are, and read before them.
uint64_t loadSlot(const uint64_t &slot)
{
    return __atomic_load_n(&slot, __ATOMIC_ACQUIRE);
}

void storeSlot(uint64_t &slot, uint64_t value)
{
    __atomic_store_n(&slot, value, __ATOMIC_RELEASE);
}

// How many files ahead build() asks for the slot of: a slot is a miss in a
// table of megabytes, and the folder of a file a few entries on is nearly
// always the same.
constexpr size_t kAhead = 8;

} // namespace

void ArchiveFs::appendShownName(std::string &out, const char *name, size_t length)
{
    appendUtf8(out, name, length);
}

ArchiveFs::ArchiveFs(const BigArchive &archive, bool raw, uint64_t cacheBytes, Report report,
                     Build when)
    : ArchiveFs(archive, raw, std::make_shared<UnpackCache>(cacheBytes), std::move(report), when)
{
}

ArchiveFs::ArchiveFs(const BigArchive &archive, bool raw, std::shared_ptr<UnpackCache> cache,
                     Report report, Build when)
    : archive(archive), raw(raw), report(std::move(report)), cache(std::move(cache)),
      cacheKeys(this->cache->newOwner())
{
    // Entries come from the file whose directory was read, whatever becomes
    // of its name.
    if (!archive.keptImage() && archive.file())
        fd = archive.file()->handle();
    buildRoot(when == Build::Later);
    if (when == Build::Now)
        build();
}

void ArchiveFs::buildRoot(bool later)
{
    // One pass over the paths: the root's folders (the first components of
    // the names extract accepts), the names that may be its files, and how
    // many nodes and name bytes the whole tree can take.
    const BigEntries &entries = archive.entries;
    size_t separators = 0, pathBytes = 0;
    std::vector<std::string_view> rootFolders;
    std::unordered_set<std::string_view> seen;
    std::vector<int> fileCandidates;
    std::string_view last;
    bool lastFound = false; // an accepted entry has been seen under `last`
    for (size_t i = 0; i < entries.size(); ++i) {
        const QByteArray &path = entries[i].path;
        const char *p = path.constData();
        const size_t n = size_t(path.size());
        pathBytes += n;
        const char *cut = static_cast<const char *>(std::memchr(p, '\\', n));
        if (!cut) {
            fileCandidates.push_back(int(i));
            continue;
        }
        separators += size_t(std::count(cut, p + n, '\\'));
        const std::string_view first(p, size_t(cut - p));
        if (first == last && lastFound)
            continue;
        if (first != last) {
            last = first;
            lastFound = false;
        }
        if (!accepted(path))
            continue;
        lastFound = true;
        if (seen.insert(first).second)
            rootFolders.push_back(first);
    }

    // A folder for each separator at most, and every name at most twice its
    // bytes in UTF-8 plus a terminator and a "~N" for each file: room set
    // aside now, so that the root's nodes and names stay where they are.
    const size_t nodeRoom = 1 + entries.size() + separators;
    const size_t nameRoom = 1 + 3 * pathBytes + 12 * entries.size();
    // Room for every entry and a folder for every 16, at most half full.
    size_t room = 1024;
    while (room < 2 * (entries.size() + entries.size() / 16))
        room *= 2;
    // Built at once, the tree has no readers to keep still, and grows as
    // it needs: one of many small trees would take whole large pages it
    // leaves nearly empty.
    if (later) {
        nameTable.reserve(largetable::room(room, sizeof(nameTable[0])));
        names.reserve(largetable::room(nameRoom, 1));
        nodes.reserve(largetable::room(nodeRoom, sizeof(Node)));
    } else {
        // A file for each entry and a folder for every 16, names of ASCII.
        names.reserve(1 + pathBytes + 4 * entries.size());
        nodes.reserve(1 + entries.size() + entries.size() / 16);
    }
    nameTable.assign(room, 0);
    names += '\0';
    nodes.push_back(Node());

    std::string utf8;
    for (const std::string_view folder : rootFolders) {
        utf8.clear();
        appendUtf8(utf8, folder.data(), folder.size());
        add(0, utf8.data(), utf8.size(), -1);
    }
    for (const int i : fileCandidates) {
        const QByteArray &path = entries[size_t(i)].path;
        if (!accepted(path))
            continue;
        utf8.clear();
        appendUtf8(utf8, path.constData(), size_t(path.size()));
        bool renamed = false;
        rootFiles.push_back(addFile(0, utf8, i, renamed));
        rootFileRenamed.push_back(renamed);
    }
    rootEnd = int(nodes.size());
    for (int i = 1; i < rootEnd; ++i)
        rootChildren.push_back(i);
    rootByName = rootChildren;
    std::sort(rootByName.begin(), rootByName.end(),
              [this](int a, int b) { return std::strcmp(name(a), name(b)) < 0; });
    rootLearned.reset(new std::atomic<uint64_t>[size_t(rootEnd)]);
    for (int i = 0; i < rootEnd; ++i)
        rootLearned[size_t(i)].store(isFolder(i) ? kLearned : 0, std::memory_order_relaxed);
}

void ArchiveFs::build()
{
    try {
        const BigEntries &entries = archive.entries;
        std::vector<bool> accepts(entries.size());
        std::string utf8;
        // The folder `path` names up to its last "\", made where missing when
        // `make`; -1 when one is missing.
        // Entries come folder by folder: one whose folder is the last one's
        // needs no look-up.
        QByteArray lastFolder;
        int lastFolderIndex = -1;
        auto folderOf = [&](const QByteArray &path, bool make) {
            const int cut = path.lastIndexOf('\\') + 1;
            if (lastFolderIndex >= 0 && cut == lastFolder.size() &&
                std::memcmp(path.constData(), lastFolder.constData(), size_t(cut)) == 0)
                return std::make_pair(lastFolderIndex, path.constData() + cut);
            int folder = 0;
            const char *p = path.constData();
            for (const char *end;
                 folder >= 0 && (end = static_cast<const char *>(std::memchr(
                                     p, '\\', size_t(path.constData() + path.size() - p))));
                 p = end + 1) {
                utf8.clear();
                appendUtf8(utf8, p, size_t(end - p));
                const int found = find(folder, utf8.data(), utf8.size());
                folder = found >= 0 || !make ? found : add(folder, utf8.data(), utf8.size(), -1);
            }
            lastFolder = QByteArray(path.constData(), cut);
            lastFolderIndex = folder;
            return std::make_pair(folder, p);
        };
        // Folders first, so that a folder keeps its name against any file.
        size_t files = 0; // to be made below
        for (size_t i = 0; i < entries.size(); ++i) {
            const QByteArray &path = entries[i].path;
            accepts[i] = accepted(path);
            if (accepts[i]) {
                files += path.contains('\\');
                folderOf(path, true);
            } else {
                warnings << QStringLiteral("left out %1: extract would refuse its name")
                                .arg(entries[i].pathText());
            }
        }
        // From here the table never grows, and names below the root are
        // looked up while the files are added.
        const size_t nodeCount = nodes.size() + files;
        roomFor(nodeCount);
        learned = largetable::Vector<std::atomic<uint64_t>>(nodeCount);
        for (size_t i = size_t(rootEnd); i < nodeCount; ++i)
            learned[i].store(i < nodes.size() ? kLearned : 0, std::memory_order_relaxed);
        made.store(nodes.size(), std::memory_order_release);
        {
            std::lock_guard<std::mutex> guard(buildLock);
            folders.store(true, std::memory_order_release);
        }
        builtOne.notify_all();
        lastFolderIndex = -1;
        size_t rootFile = 0; // the root's files, made already, come in the same order
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!accepts[i])
                continue;
            const QByteArray &path = entries[i].path;
            const auto [folder, last] = folderOf(path, false);
            if (i + kAhead < entries.size())
                prefetchSlot(folder, entries[i + kAhead].path);
            bool renamed = false;
            int file;
            if (folder == 0) {
                renamed = rootFileRenamed[rootFile];
                file = rootFiles[rootFile++];
            } else {
                utf8.clear();
                appendUtf8(utf8, last, size_t(path.constData() + path.size() - last));
                file = addFile(folder, utf8, int(i), renamed);
                made.store(nodes.size(), std::memory_order_release);
            }
            if (renamed)
                warnings << QStringLiteral("%1 is shown as %2: its name is taken")
                                .arg(entries[i].pathText(), QString::fromUtf8(name(file)));
            const quint64 present = archive.presentBytes(entries[i]);
            if (present < quint32(entries[i].size))
                warnings << QStringLiteral("%1 reaches past the end of the archive: only %2 of "
                                           "its %3 bytes exist, and it is shown short")
                                .arg(entries[i].pathText())
                                .arg(present)
                                .arg(quint32(entries[i].size));
        }

        // Each folder's children in one run, in the order they were made.
        largetable::Vector<uint32_t> counts(nodes.size(), 0), firsts(nodes.size());
        for (size_t i = 1; i < nodes.size(); ++i)
            ++counts[size_t(nodes[i].parent)];
        uint32_t next = 0;
        for (size_t i = 0; i < nodes.size(); ++i) {
            firsts[i] = next;
            next += counts[i];
            counts[i] = 0;
        }
        childList.resize(next);
        for (size_t i = 1; i < nodes.size(); ++i) {
            const size_t folder = size_t(nodes[i].parent);
            childList[firsts[folder] + counts[folder]++] = int(i);
        }
        for (size_t i = 0; i < nodes.size(); ++i) {
            nodes[i].firstChild = firsts[i];
            nodes[i].childCount = counts[i];
        }
    } catch (const std::bad_alloc &) {
        {
            std::lock_guard<std::mutex> guard(buildLock);
            buildFailed = true;
        }
        builtOne.notify_all();
        throw;
    }
    lastSuffix = {};
    {
        std::lock_guard<std::mutex> guard(buildLock);
        built.store(true, std::memory_order_release);
    }
    builtOne.notify_all();
}

bool ArchiveFs::reached(const std::atomic<bool> &step) const
{
    if (step.load(std::memory_order_acquire))
        return true;
    std::unique_lock<std::mutex> guard(buildLock);
    builtOne.wait(guard, [&] { return step.load(std::memory_order_acquire) || buildFailed; });
    return !buildFailed;
}

const int *ArchiveFs::children(int folder, size_t &count) const
{
    if (folder == 0 && !built.load(std::memory_order_acquire)) {
        count = rootChildren.size();
        return rootChildren.data();
    }
    if (!complete()) {
        count = 0;
        return nullptr;
    }
    count = nodes[size_t(folder)].childCount;
    return childList.data() + nodes[size_t(folder)].firstChild;
}

ArchiveFs::~ArchiveFs() = default;

// A slot holds the node's index plus one in its low half and the upper half
// of its hash in the other, so that most slots that are not it are passed
// over without reading the node.
size_t ArchiveFs::slotOf(int folder, const char *name, size_t length) const
{
    const size_t mask = nameTable.size() - 1;
    const uint64_t hash = hashOf(folder, name, length);
    const uint64_t tag = hash & 0xFFFFFFFF00000000ull;
    for (size_t at = size_t(hash) & mask;; at = (at + 1) & mask) {
        const uint64_t slot = loadSlot(nameTable[at]);
        if (slot == 0)
            return at;
        if ((slot & 0xFFFFFFFF00000000ull) != tag)
            continue;
        const Node &node = nodes[size_t(uint32_t(slot)) - 1];
        if (node.parent == folder && std::strncmp(names.data() + node.name, name, length) == 0 &&
            names[node.name + length] == '\0')
            return at;
    }
}

int ArchiveFs::child(int folder, const char *name) const
{
    if (folder == 0 && !built.load(std::memory_order_acquire)) {
        const auto at = std::lower_bound(rootByName.begin(), rootByName.end(), name,
                                         [this](int node, const char *wanted) {
                                             return std::strcmp(this->name(node), wanted) < 0;
                                         });
        return at != rootByName.end() && std::strcmp(this->name(*at), name) == 0 ? *at : -1;
    }
    const size_t length = std::strlen(name);
    if (built.load(std::memory_order_acquire))
        return find(folder, name, length);
    // A name made already keeps its node; one not made yet may still come.
    const int found = foldersMade() ? find(folder, name, length) : -1;
    return found >= 0 || !complete() ? found : find(folder, name, length);
}

void ArchiveFs::prefetchSlot(int folder, const QByteArray &path) const
{
    // Only a guess: a name of bytes from 0x80 on is hashed as UTF-8, and
    // the file may be in another folder. A wrong one costs nothing more.
    const int cut = path.lastIndexOf('\\') + 1;
    const uint64_t hash = hashOf(folder, path.constData() + cut, size_t(path.size() - cut));
    __builtin_prefetch(&nameTable[size_t(hash) & (nameTable.size() - 1)]);
}

int ArchiveFs::find(int folder, const char *name, size_t length) const
{
    return int(uint32_t(loadSlot(nameTable[slotOf(folder, name, length)]))) - 1;
}

uint64_t ArchiveFs::slotFor(int node, const char *name, size_t length) const
{
    return (hashOf(nodes[size_t(node)].parent, name, length) & 0xFFFFFFFF00000000ull) |
           uint64_t(node + 1);
}

int ArchiveFs::add(int folder, const char *name, size_t length, int entry)
{
    const size_t at = slotOf(folder, name, length);
    if (nameTable[at] != 0)
        return -1;
    const int index = int(nodes.size());
    Node node;
    node.name = uint32_t(names.size());
    node.parent = folder;
    node.entry = entry;
    if (entry >= 0) {
        node.offset = archive.entries[size_t(entry)].offset;
        node.size = archive.entries[size_t(entry)].size;
    }
    names.append(name, length);
    names += '\0';
    nodes.push_back(node);
    if (nodes.size() * 2 > nameTable.size())
        roomFor(nodes.size());
    else
        storeSlot(nameTable[at], slotFor(index, name, length));
    return index;
}

void ArchiveFs::roomFor(size_t count)
{
    if (count * 2 <= nameTable.size())
        return;
    size_t room = nameTable.size();
    while (count * 2 > room)
        room *= 2;
    nameTable.assign(room, 0);
    for (size_t i = 1; i < nodes.size(); ++i) {
        const char *each = names.data() + nodes[i].name;
        const size_t n = std::strlen(each);
        nameTable[slotOf(nodes[i].parent, each, n)] = slotFor(int(i), each, n);
    }
}

int ArchiveFs::addFile(int folder, std::string &name, int entry, bool &renamed)
{
    int file = add(folder, name.data(), name.size(), entry);
    renamed = file < 0;
    if (renamed) {
        // The search for a free "~N" goes on where the last one for this
        // name stopped: a name taken again and again costs no more each time.
        const std::string wanted = name;
        std::string key(reinterpret_cast<const char *>(&folder), sizeof folder);
        int &n = lastSuffix[key += wanted];
        while (file < 0) {
            name = wanted + "~" + std::to_string(++n);
            file = add(folder, name.data(), name.size(), entry);
        }
    }
    return file;
}

ArchiveFs::Storage ArchiveFs::storage(int index) const
{
    uint64_t known = learnedOf(index).load(std::memory_order_acquire);
    if (!(known & kLearned))
        known = learn(index);
    return {(known & kCompressed) != 0, known & kSize};
}

// An entry's storage, from its first bytes. Two threads may both learn it:
// they find the same, and only the first reports.
uint64_t ArchiveFs::learn(int index) const
{
    const BigEntry entry = entryOf(index);
    const uint64_t present = archive.presentBytes(entry);
    EntryStorage found;
    found.unpackedSize = present;
    if (!raw) {
        char head[16];
        const uint64_t n = std::min<uint64_t>(present, sizeof head);
        if (readStored(entry, 0, n, head) == int64_t(n)) {
            found = storageFromHead(head, size_t(n), present, entry);
            if (!found.compressed())
                found.unpackedSize = present;
        }
    }
    const uint64_t known = kLearned | (found.compressed() ? kCompressed : 0) | found.unpackedSize;
    uint64_t expected = 0;
    if (learnedOf(index).compare_exchange_strong(expected, known, std::memory_order_acq_rel) &&
        report) {
        if (found.compressed() && found.unpackedSize + present > cache->budget())
            report(QStringLiteral("%1 unpacks to %2 bytes, more than the mount's cache of "
                                  "%3 holds beside the %4 it is unpacked from: it cannot be "
                                  "read (EFBIG)")
                       .arg(pathOf(index))
                       .arg(found.unpackedSize)
                       .arg(cache->budget())
                       .arg(present));
        if (found.form == EntryForm::Undecodable)
            report(QStringLiteral("%1 %2: it is shown as stored")
                       .arg(pathOf(index), undecodableText()));
    }
    return known;
}

QString ArchiveFs::pathOf(int index) const
{
    QString path = QString::fromUtf8(name(index));
    for (int up = parent(index); up > 0; up = parent(up))
        path = QString::fromUtf8(name(up)) + QLatin1Char('/') + path;
    return path;
}

uint64_t ArchiveFs::storedOffset(int index) const
{
    return uint64_t(quint32(entryOf(index).offset));
}

std::shared_ptr<const ArchiveFs::Bytes> ArchiveFs::unpacked(int file, int &error)
{
    const Storage node = storage(file);
    // The stored copy it is unpacked from counts too, while it exists.
    const BigEntry entry = entryOf(file);
    const uint64_t length = archive.presentBytes(entry);
    const uint64_t need = node.size + length;
    if (need > cache->budget()) {
        error = EFBIG;
        return nullptr;
    }
    return cache->get(
        cacheKeys | uint32_t(file), need,
        [&]() -> std::unique_ptr<Bytes> {
            // No valid stream is more than a quarter larger than what it
            // unpacks to: a longer one is damage, and is not read into memory.
            std::unique_ptr<char[]> stored(length <= node.size + node.size / 4 + 64
                                               ? new (std::nothrow) char[length]
                                               : nullptr);
            if (!stored || readStored(entry, 0, length, stored.get()) != int64_t(length) ||
                GfxCoreCodec::unpackedSize(stored.get(), length) != node.size)
                return nullptr;
            std::unique_ptr<Bytes> made(new (std::nothrow) Bytes);
            if (made)
                made->data.reset(new (std::nothrow) char[node.size]);
            if (!made || !made->data ||
                !GfxCoreCodec::unpack(stored.get(), length, made->data.get(), node.size))
                return nullptr;
            made->size = node.size;
            return made;
        },
        error);
}

int64_t ArchiveFs::read(int file, const Bytes *unpackedBytes, char *out, uint64_t size,
                        uint64_t offset) const
{
    const Storage node = storage(file);
    if (offset >= node.size)
        return 0;
    const uint64_t n = std::min(size, node.size - offset);
    if (node.compressed) {
        if (!unpackedBytes)
            return -EIO;
        std::memcpy(out, unpackedBytes->data.get() + offset, n);
        return int64_t(n);
    }
    return readStored(entryOf(file), offset, n, out);
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
