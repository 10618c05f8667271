#pragma once

#include "archivefs.h"
#include "overlay.h"

#include <QStringList>

#include <string>
#include <unordered_map>
#include <vector>

// Several archives' trees as one read-only tree, as a game reads them: a
// path two archives hold is one file, the copy Overlay's rule picks (the
// later archive's, or the first's), and folders of the same name are one
// folder. Names are compared as Overlay compares paths (case folded); each
// folder shows the spelling of the first archive that has it, each file
// its winner's. Within one archive the first entry of a path is the one
// read; later ones are hidden, as they are from the game.
//
// Each archive's tree (ArchiveFs, whole) reads its own files; they may
// share one UnpackCache, which then bounds them all. Names extract refuses
// are left out, and a file whose name a folder holds is shown as "~1",
// "~2", ..., each with a line in `warnings` that names the archive. Listings
// keep the order names first come in, archive by archive, folders first.
//
// Archives are laid on one at a time, in list order, so that the first can
// be laid on while the next are read; the tree is there once finish() has
// run.
class OverlayFs final : public MountedTree
{
public:
    struct Layer
    {
        QString name;              // for messages
        const BigArchive *archive; // with its directory there until finish()
        ArchiveFs *tree;           // built whole from it
    };
    explicit OverlayFs(Overlay::Rule rule);
    // Each of these throws std::bad_alloc when there is no memory for the
    // tree; then it is of no use.
    void add(const Layer &layer);
    void finish();

    bool exists(int index) const override { return index >= 0 && size_t(index) < nodes.size(); }
    int child(int folder, const char *name) const override;
    const char *name(int index) const override { return names.data() + nodes[size_t(index)].name; }
    bool isFolder(int index) const override { return nodes[size_t(index)].layer < 0; }
    int parent(int index) const override { return nodes[size_t(index)].parent; }
    const int *children(int folder, size_t &count) const override;
    Storage storage(int index) const override { return tree(index).storage(inner(index)); }
    int source(int index) const override { return nodes[size_t(index)].layer; }
    int fileDescriptor(int index) const override
    {
        return tree(index).fileDescriptor(inner(index));
    }
    uint64_t storedOffset(int index) const override
    {
        return tree(index).storedOffset(inner(index));
    }
    std::shared_ptr<const Bytes> unpacked(int index, int &error) override
    {
        return tree(index).unpacked(inner(index), error);
    }
    int64_t read(int index, const Bytes *unpacked, char *out, uint64_t size,
                 uint64_t offset) const override
    {
        return tree(index).read(inner(index), unpacked, out, size, offset);
    }

    QStringList warnings;

private:
    struct Node
    {
        uint32_t name = 0; // where its name starts in `names`
        int32_t parent = -1;
        uint32_t firstChild = 0; // into `childList` and `byName`
        uint32_t childCount = 0;
        int32_t layer = -1; // the archive a file comes from; -1 for a folder
        int32_t node = -1;  // and its node in that archive's tree
    };
    ArchiveFs &tree(int index) const { return *layers[size_t(nodes[size_t(index)].layer)].tree; }
    int inner(int index) const { return nodes[size_t(index)].node; }
    // Makes the child `name` of `folder`, whose folded name is `key`, and
    // enters it in the key table unless `enter` is false.
    int make(int folder, const std::string &key, const std::string &name, int layer, int node,
             bool enter = true);
    void setName(int index, const std::string &name);
    void setKey(int index, const std::string &key);
    // The child of `folder` whose folded name is `key`, or -1.
    int findKey(int folder, const std::string &key) const;
    size_t slotOf(int folder, const std::string &key) const;
    // Whether `index` is a file whose name is `key`, or was before it took
    // a "~N".
    bool holdsName(int index, const std::string &key) const;
    // Gives file `index` the first free name "~1", "~2", ... for a folder
    // that takes its own.
    void moveAside(int index);
    void warnRenamed(int index);

    Overlay::Rule rule;
    std::vector<Layer> layers;
    std::vector<Node> nodes;
    std::string names;          // every name, each ending in a 0 byte
    std::vector<int> childList; // each folder's children, one run per folder, in order
    std::vector<int> byName;    // the same runs, each sorted by name
    // Building: each node's folded name, how much of it came before a
    // "~N" it was given, and a hash table of (folder, folded name) to node
    // index plus one.
    std::string keys;
    std::vector<uint32_t> keyAt, keyLength, keyBase;
    std::vector<uint32_t> keyTable;
    // The "~N" a file took, by (folder, folded name) it had.
    std::unordered_map<std::string, int> suffixOf;
};
