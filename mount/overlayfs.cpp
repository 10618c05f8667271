#include "overlayfs.h"

#include "entrypattern.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

uint64_t hashOf(int folder, const std::string &key)
{
    uint64_t h = 1469598103934665603ull ^ uint64_t(uint32_t(folder));
    for (const char c : key)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return h ^ (h >> 29);
}

// `n` bytes at `p`, folded, as `out`.
void foldInto(std::string &out, const char *p, size_t n)
{
    out.resize(n);
    EntryPattern::fold(p, n, &out[0]);
}

// The stored bytes of a name the tree shows (each character its byte).
void storedName(std::string &out, const char *shown)
{
    out.clear();
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(shown); *p; ++p) {
        if (*p < 0x80) {
            out += char(*p);
        } else {
            out += char(((p[0] & 0x03) << 6) | (p[1] & 0x3F));
            ++p;
        }
    }
}

// A (folder, folded name) pair as one string.
std::string memoKey(int folder, const std::string &key)
{
    return std::string(reinterpret_cast<const char *>(&folder), sizeof folder) + key;
}

} // namespace

OverlayFs::OverlayFs(Overlay::Rule rule) : rule(rule)
{
    names += '\0';
    nodes.push_back(Node());
    keyAt.push_back(0);
    keyLength.push_back(0);
    keyBase.push_back(0);
    keyTable.assign(1024, 0);
}

void OverlayFs::add(const Layer &layer)
{
    const int l = int(layers.size());
    layers.push_back(layer);
    const ArchiveFs &tree = *layer.tree;
    const BigEntries &entries = layer.archive->entries;
    std::string key, shown, stored;

    // Its folders first, so that a folder keeps its name against any file,
    // this archive's or an earlier one's. A tree makes each folder after
    // its parent: in the order of its nodes, a parent is always met first.
    std::vector<int> folderOf(size_t(tree.nodeCount()), -1);
    folderOf[0] = 0;
    for (int n = 1; n < tree.nodeCount(); ++n) {
        if (!tree.isFolder(n))
            continue;
        const int folder = folderOf[size_t(tree.parent(n))];
        storedName(stored, tree.name(n));
        foldInto(key, stored.data(), stored.size());
        const int found = findKey(folder, key);
        if (found >= 0 && isFolder(found)) {
            folderOf[size_t(n)] = found;
            continue;
        }
        const int made = make(folder, key, tree.name(n), -1, -1, false);
        keyTable[slotOf(folder, key)] = uint32_t(made + 1);
        folderOf[size_t(n)] = made;
        // A file of an earlier archive held the name: it moves aside.
        if (found >= 0)
            moveAside(found);
    }

    // Then its files, in directory order.
    std::vector<bool> shownEntry(entries.size());
    for (int n = 1; n < tree.nodeCount(); ++n) {
        if (tree.isFolder(n))
            continue;
        const int entry = tree.entryIndex(n);
        shownEntry[size_t(entry)] = true;
        const int folder = folderOf[size_t(tree.parent(n))];
        // The entry's own name: the tree's may be one it had to change.
        const QByteArray &path = entries[size_t(entry)].path;
        const int cut = path.lastIndexOf('\\') + 1;
        foldInto(key, path.constData() + cut, size_t(path.size() - cut));
        const quint64 present = layer.archive->presentBytes(entries[size_t(entry)]);
        if (present < quint32(entries[size_t(entry)].size))
            warnings << QStringLiteral("%1: %2 reaches past the end of the archive: only %3 of "
                                       "its %4 bytes exist, and it is shown short")
                            .arg(layer.name, entries[size_t(entry)].pathText())
                            .arg(present)
                            .arg(quint32(entries[size_t(entry)].size));
        // Where a folder, or a file that had to change its name, holds the
        // name: the "~N" it took before, or the first free one.
        int found = findKey(folder, key);
        std::string suffix;
        if (found >= 0 && !holdsName(found, key)) {
            const auto taken = suffixOf.find(memoKey(folder, key));
            if (taken != suffixOf.end()) {
                suffix = "~" + std::to_string(taken->second);
                found = findKey(folder, key + suffix);
            } else {
                for (int k = 1; found >= 0; ++k) {
                    suffix = "~" + std::to_string(k);
                    found = findKey(folder, key + suffix);
                    if (found < 0)
                        suffixOf[memoKey(folder, key)] = k;
                }
            }
        }
        if (found >= 0) {
            Node &held = nodes[size_t(found)];
            // Within an archive the first entry of a path (a tree makes its
            // files in directory order), between archives the rule.
            if (held.layer == l || rule == Overlay::Rule::FirstWins)
                continue;
            held.layer = l;
            held.node = n;
        }
        shown.clear();
        ArchiveFs::appendShownName(shown, path.constData() + cut, size_t(path.size() - cut));
        shown += suffix;
        if (found >= 0) {
            setName(found, shown);
        } else {
            found = make(folder, key + suffix, shown, l, n);
            keyBase[size_t(found)] = uint32_t(key.size());
        }
        if (!suffix.empty())
            warnRenamed(found);
    }
    for (size_t e = 0; e < entries.size(); ++e)
        if (!shownEntry[e])
            warnings << QStringLiteral("%1: left out %2: extract would refuse its name")
                            .arg(layer.name, entries[e].pathText());
}

void OverlayFs::finish()
{
    keys = {};
    keyAt = keyLength = keyBase = keyTable = {};
    suffixOf = {};

    // Each folder's children in one run, in the order they were made, and
    // the same sorted by name.
    std::vector<uint32_t> counts(nodes.size(), 0);
    for (size_t i = 1; i < nodes.size(); ++i)
        ++counts[size_t(nodes[i].parent)];
    uint32_t next = 0;
    for (size_t i = 0; i < nodes.size(); ++i) {
        nodes[i].firstChild = next;
        next += counts[i];
        counts[i] = 0;
    }
    childList.resize(next);
    for (size_t i = 1; i < nodes.size(); ++i) {
        Node &folder = nodes[size_t(nodes[i].parent)];
        childList[folder.firstChild + folder.childCount++] = int(i);
    }
    for (const Node &folder : nodes)
        std::stable_partition(childList.begin() + folder.firstChild,
                              childList.begin() + folder.firstChild + folder.childCount,
                              [this](int child) { return isFolder(child); });
    byName = childList;
    for (const Node &folder : nodes)
        std::sort(byName.begin() + folder.firstChild,
                  byName.begin() + folder.firstChild + folder.childCount,
                  [this](int a, int b) { return std::strcmp(name(a), name(b)) < 0; });
}

int OverlayFs::make(int folder, const std::string &key, const std::string &name, int layer,
                    int node, bool enter)
{
    const int index = int(nodes.size());
    Node made;
    made.parent = folder;
    made.layer = layer;
    made.node = node;
    nodes.push_back(made);
    setName(index, name);
    keyAt.push_back(0);
    keyLength.push_back(0);
    keyBase.push_back(uint32_t(key.size()));
    setKey(index, key);
    if (nodes.size() * 2 > keyTable.size()) {
        // At most half full: twice the room, and every key again.
        keyTable.assign(keyTable.size() * 2, 0);
        std::string each;
        for (size_t i = 1; i < nodes.size(); ++i) {
            each.assign(keys, keyAt[i], keyLength[i]);
            keyTable[slotOf(nodes[i].parent, each)] = uint32_t(i + 1);
        }
    } else if (enter) {
        keyTable[slotOf(folder, key)] = uint32_t(index + 1);
    }
    return index;
}

void OverlayFs::setKey(int index, const std::string &key)
{
    if (keys.size() + key.size() >= UINT32_MAX)
        throw std::bad_alloc();
    keyAt[size_t(index)] = uint32_t(keys.size());
    keyLength[size_t(index)] = uint32_t(key.size());
    keys += key;
}

bool OverlayFs::holdsName(int index, const std::string &key) const
{
    return nodes[size_t(index)].layer >= 0 && keyBase[size_t(index)] == key.size() &&
           std::memcmp(keys.data() + keyAt[size_t(index)], key.data(), key.size()) == 0;
}

void OverlayFs::moveAside(int index)
{
    const Node &file = nodes[size_t(index)];
    const std::string key(keys, keyAt[size_t(index)], keyLength[size_t(index)]);
    std::string suffix;
    int k = 0;
    while (suffix.empty() || findKey(file.parent, key + suffix) >= 0)
        suffix = "~" + std::to_string(++k);
    suffixOf[memoKey(file.parent, key)] = k;
    setKey(index, key + suffix);
    keyTable[slotOf(file.parent, key + suffix)] = uint32_t(index + 1);
    setName(index, std::string(name(index)) + suffix);
    warnRenamed(index);
}

void OverlayFs::warnRenamed(int index)
{
    const Layer &layer = layers[size_t(nodes[size_t(index)].layer)];
    const BigEntry &entry =
        layer.archive->entries[size_t(layer.tree->entryIndex(nodes[size_t(index)].node))];
    warnings << QStringLiteral("%1: %2 is shown as %3: its name is taken")
                    .arg(layer.name, entry.pathText(), QString::fromUtf8(name(index)));
}

size_t OverlayFs::slotOf(int folder, const std::string &key) const
{
    const size_t mask = keyTable.size() - 1;
    for (size_t at = size_t(hashOf(folder, key)) & mask;; at = (at + 1) & mask) {
        const uint32_t slot = keyTable[at];
        if (slot == 0)
            return at;
        const size_t node = slot - 1;
        if (nodes[node].parent == folder && keyLength[node] == key.size() &&
            std::memcmp(keys.data() + keyAt[node], key.data(), key.size()) == 0)
            return at;
    }
}

int OverlayFs::findKey(int folder, const std::string &key) const
{
    return int(keyTable[slotOf(folder, key)]) - 1;
}

void OverlayFs::setName(int index, const std::string &name)
{
    // Offsets and inode numbers are 32 bits.
    if (names.size() + name.size() >= UINT32_MAX || nodes.size() >= INT32_MAX)
        throw std::bad_alloc();
    nodes[size_t(index)].name = uint32_t(names.size());
    names.append(name);
    names += '\0';
}

int OverlayFs::child(int folder, const char *name) const
{
    const Node &node = nodes[size_t(folder)];
    const auto begin = byName.begin() + node.firstChild;
    const auto end = begin + node.childCount;
    const auto at = std::lower_bound(begin, end, name, [this](int child, const char *wanted) {
        return std::strcmp(this->name(child), wanted) < 0;
    });
    return at != end && std::strcmp(this->name(*at), name) == 0 ? *at : -1;
}

const int *OverlayFs::children(int folder, size_t &count) const
{
    count = nodes[size_t(folder)].childCount;
    return childList.data() + nodes[size_t(folder)].firstChild;
}
