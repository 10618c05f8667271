#include "treecompare.h"

#include "entrydata.h"
#include "heldfile.h"

#include <QDir>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t kPiece = size_t(1) << 20;

// An item's bytes, taken in order as the other side's pieces come: a file
// on disk or a stored entry a piece at a time, a compressed entry unpacked
// whole.
class Puller
{
public:
    bool open(const BigArchive *archive, const QString &folder, const TreeItem &item)
    {
        if (item.entry < 0) {
            if (!file.open(folder + QLatin1Char('/') + item.path, false)) {
                problem = file.problem();
                return false;
            }
            if (file.identity().size != item.size)
                changed = true;
            return true;
        }
        this->archive = archive;
        entry = archive->entries[size_t(item.entry)];
        if (!item.compressed)
            return true;
        unpacked.reserve(item.size <= quint64(INT32_MAX) ? int(item.size) : 0);
        const EntryResult sent = sendEntry(*archive, entry, false, [&](const char *p, size_t n) {
            if (quint64(unpacked.size()) + n > quint64(INT32_MAX))
                return false;
            unpacked.append(p, int(n));
            return true;
        });
        // One that does not decode is compared as stored, as extract writes it.
        if (sent.kind != EntryResult::Done && sent.kind != EntryResult::Undecodable) {
            problem = sent.kind == EntryResult::Stopped ? QStringLiteral("it unpacks to over 2 GiB")
                                                        : describeEntryResult(sent, entry);
            return false;
        }
        fromMemory = true;
        return true;
    }

    // The next `n` bytes, or null when fewer exist or they cannot be read
    // (then `problem` says why, unless the item simply ended).
    const char *pull(size_t n)
    {
        const quint64 from = at;
        at += n;
        if (fromMemory)
            return at <= quint64(unpacked.size()) ? unpacked.constData() + from : nullptr;
        if (file.isOpen()) {
            // As large as the pieces asked for, which are as large as the
            // file or 1 MiB; not cleared, since it is read into.
            if (room < n) {
                buffer.reset(new (std::nothrow) char[n]);
                room = buffer ? n : 0;
            }
            const int64_t got = buffer ? file.readAt(buffer.get(), n, from) : -1;
            if (got < 0)
                problem =
                    buffer ? QStringLiteral("cannot be read") : QStringLiteral("not enough memory");
            return got == int64_t(n) ? buffer.get() : nullptr;
        }
        const quint64 start = quint64(quint32(entry.offset)) + from;
        if (start + n > quint64(UINT32_MAX) + 1 || from + n > quint64(quint32(entry.size)))
            return nullptr;
        const EntryRead read = archive->readEntry(quint32(start), quint32(n), piece);
        if (read == EntryRead::Whole && size_t(piece.size()) == n)
            return piece.constData();
        EntryResult result;
        result.kind =
            read == EntryRead::Truncated ? EntryResult::Truncated : EntryResult::Unreadable;
        result.present = archive->presentBytes(entry);
        problem = describeEntryResult(result, entry);
        return nullptr;
    }

    // Whether every byte was taken.
    bool atEnd() const
    {
        if (fromMemory)
            return at == quint64(unpacked.size());
        return at == (file.isOpen() ? file.identity().size : quint64(quint32(entry.size)));
    }
    // After the last piece: whether a file on disk stayed as it was.
    bool unchanged() const { return !changed && (!file.isOpen() || file.isUnchanged()); }

    QString problem;

private:
    HeldFile file;
    bool changed = false;
    const BigArchive *archive = nullptr;
    BigEntry entry;
    bool fromMemory = false;
    QByteArray unpacked, piece;
    std::unique_ptr<char[]> buffer;
    size_t room = 0;
    quint64 at = 0;
};

// Hands an item's bytes to `take` in pieces: a file a piece at a time, an
// entry as sendEntry does. Empty, or why the bytes could not all be sent.
QString push(const BigArchive *archive, const QString &folder, const TreeItem &item,
             const std::function<bool(const char *, size_t)> &take, bool &changed)
{
    if (item.entry >= 0) {
        const BigEntry &entry = archive->entries[size_t(item.entry)];
        const EntryResult sent = sendEntry(*archive, entry, false, take);
        return sent.kind == EntryResult::Done || sent.kind == EntryResult::Undecodable ||
                       sent.kind == EntryResult::Stopped
                   ? QString()
                   : describeEntryResult(sent, entry);
    }
    HeldFile file;
    if (!file.open(folder + QLatin1Char('/') + item.path, false))
        return file.problem();
    changed = file.identity().size != item.size;
    std::unique_ptr<char[]> buffer(
        new (std::nothrow) char[std::min<quint64>(kPiece, item.size) + 1]);
    if (!buffer)
        return QStringLiteral("not enough memory");
    for (quint64 at = 0; at < item.size; at += kPiece) {
        const size_t n = size_t(std::min<quint64>(kPiece, item.size - at));
        const int64_t got = file.readAt(buffer.get(), n, at);
        if (got < 0)
            return QStringLiteral("cannot be read");
        if (got != int64_t(n)) {
            changed = true;
            return QString();
        }
        if (!take(buffer.get(), n))
            break;
    }
    changed = changed || !file.isUnchanged();
    return QString();
}

} // namespace

TreeComparison::Verdict TreeComparison::compare(const TreeSide &a, const TreeItem &x,
                                                const TreeSide &b, const TreeItem &y)
{
    // A compressed entry's size is what its header declares, which a
    // stream that does not decode (and is compared as stored) belies.
    if (!x.file || !y.file || (x.size != y.size && !x.compressed && !y.compressed))
        return Verdict::Differ;
    // The archive's side goes first: sendEntry unpacks or reads it as it
    // is stored; the other side keeps pace.
    const bool swap = x.entry < 0 && y.entry >= 0;
    const TreeSide &first = swap ? b : a, &second = swap ? a : b;
    const TreeItem &one = swap ? y : x, &other = swap ? x : y;
    Puller puller;
    if (!puller.open(second.archive, second.folder, other)) {
        problems.append(QStringLiteral("cannot compare %1: %2").arg(other.path, puller.problem));
        return Verdict::Failed;
    }
    bool equal = true, changedFirst = false;
    const QString failed = push(
        first.archive, first.folder, one,
        [&](const char *p, size_t n) {
            const char *q = puller.pull(n);
            equal = q && std::memcmp(p, q, n) == 0;
            return equal;
        },
        changedFirst);
    if (!failed.isEmpty() || (!equal && !puller.problem.isEmpty())) {
        problems.append(QStringLiteral("cannot compare %1: %2")
                            .arg(one.path, failed.isEmpty() ? puller.problem : failed));
        return Verdict::Failed;
    }
    if (changedFirst || !puller.unchanged()) {
        changed.append(QDir::cleanPath((changedFirst ? first.folder : second.folder) +
                                       QLatin1Char('/') + one.path));
        return Verdict::Failed;
    }
    return equal && puller.atEnd() ? Verdict::Same : Verdict::Differ;
}

void TreeComparison::run(const TreeSide &oldSide, const TreeSide &newSide)
{
    // Merging the sorted listings gives every path once, in order: in one
    // side only, or in both (a pair to compare).
    struct Pair
    {
        size_t older, newer;
    };
    struct Step
    {
        TreeDifference::Kind kind;
        size_t index; // into the old or new items, or into `pairs`
    };
    std::vector<Pair> pairs;
    std::vector<Step> steps;
    const auto &olds = oldSide.items, &news = newSide.items;
    for (size_t i = 0, j = 0; i < olds.size() || j < news.size();) {
        if (j == news.size() || (i < olds.size() && olds[i].key < news[j].key)) {
            steps.push_back({TreeDifference::OnlyOld, i++});
        } else if (i == olds.size() || news[j].key < olds[i].key) {
            steps.push_back({TreeDifference::OnlyNew, j++});
        } else {
            steps.push_back({TreeDifference::Differ, pairs.size()});
            pairs.push_back({i++, j++});
        }
    }
    // Read in the order an archive stores its entries: one pass over it.
    const auto place = [&](const Pair &p) {
        const TreeItem &x = olds[p.older], &y = news[p.newer];
        if (x.entry >= 0)
            return quint32(oldSide.archive->entries[size_t(x.entry)].offset);
        return y.entry >= 0 ? quint32(newSide.archive->entries[size_t(y.entry)].offset) : 0u;
    };
    std::vector<size_t> order(pairs.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t p, size_t q) { return place(pairs[p]) < place(pairs[q]); });
    std::vector<Verdict> verdicts(pairs.size());
    for (const size_t k : order)
        verdicts[k] = compare(oldSide, olds[pairs[k].older], newSide, news[pairs[k].newer]);

    differences.clear();
    same = 0;
    for (const Step &step : steps) {
        if (step.kind == TreeDifference::OnlyOld)
            differences.push_back({step.kind, olds[step.index].path});
        else if (step.kind == TreeDifference::OnlyNew)
            differences.push_back({step.kind, news[step.index].path});
        else if (verdicts[step.index] == Verdict::Differ)
            differences.push_back({step.kind, olds[pairs[step.index].older].path});
        else
            same += verdicts[step.index] == Verdict::Same;
    }
}
