// test: reads every entry and checks the archive, as unzip -t and 7z t do.

#include "verbs.h"

#include "archiveaccess.h"
#include "atomicfile.h"
#include "bigwriter.h"
#include "cliutil.h"
#include "entrydata.h"
#include "gfxcorecodec.h"
#include "heldfile.h"
#include "memorysize.h"
#include "pathrules.h"
#include "picturefile.h"
#include "report.h"
#include "safepath.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <memory>
#include <new>

namespace cli {
namespace {

struct Problem
{
    const BigEntry *entry = nullptr; // null for the archive as a whole
    QString text;
};

// A buffer reused from entry to entry, grown as needed.
class Buffer
{
public:
    char *get(size_t n)
    {
        if (n > capacity) {
            bytes.reset(new (std::nothrow) char[n]);
            capacity = bytes ? n : 0;
        }
        return bytes ? bytes.get() : nullptr;
    }

private:
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
};

// What extract and the window would stumble on in the directory.
void checkDirectory(const BigArchive &archive, const std::vector<const BigEntry *> &chosen,
                    std::vector<Problem> &problems)
{
    if (archive.longPaths > 0)
        problems.push_back(
            {nullptr,
             QStringLiteral("%1 entries have paths longer than 64 KiB").arg(archive.longPaths)});
    if (archive.entries.size() + archive.longPaths < archive.entryCount)
        problems.push_back({nullptr, QStringLiteral("the directory is cut short: %1 of %2 "
                                                    "entries")
                                         .arg(archive.entries.size() + archive.longPaths)
                                         .arg(archive.entryCount)});
    if (archive.archiveSize != archive.imageSize)
        problems.push_back({nullptr, QStringLiteral("its header gives its size as %1 bytes, but "
                                                    "it is %2")
                                         .arg(archive.archiveSize)
                                         .arg(archive.imageSize)});
    QHash<QByteArray, int> paths;
    QSet<QByteArray> folders;
    for (const BigEntry &entry : archive.entries) {
        const QByteArray path = QByteArray(entry.path).replace('/', '\\');
        ++paths[path];
        for (int cut = path.indexOf('\\'); cut >= 0; cut = path.indexOf('\\', cut + 1))
            folders.insert(path.left(cut));
    }
    // Entries by offset, for overlaps: each is compared with the one that
    // reaches furthest among those before it.
    std::vector<const BigEntry *> byOffset;
    for (const BigEntry &entry : archive.entries) {
        if (entry.size != 0)
            byOffset.push_back(&entry);
    }
    std::stable_sort(byOffset.begin(), byOffset.end(), [](const BigEntry *a, const BigEntry *b) {
        return quint32(a->offset) < quint32(b->offset);
    });
    QHash<const BigEntry *, const BigEntry *> overlapping;
    const BigEntry *furthest = nullptr;
    for (const BigEntry *entry : byOffset) {
        const quint64 start = quint32(entry->offset);
        if (furthest && start < quint64(quint32(furthest->offset)) + quint32(furthest->size))
            overlapping.insert(entry, furthest);
        if (!furthest || start + quint32(entry->size) >
                             quint64(quint32(furthest->offset)) + quint32(furthest->size))
            furthest = entry;
    }

    // Paths that differ only in case, found in directory order: the later
    // one is the one a folder that ignores case cannot take beside the other.
    QHash<const BigEntry *, QString> caseOf;
    CaseClashes clashes(true);
    for (const BigEntry &entry : archive.entries) {
        const std::optional<QStringList> parts = safeEntryPath(entry.path);
        const QString clash = parts ? clashes.clash(*parts) : QString();
        if (!clash.isEmpty())
            caseOf.insert(&entry, clash);
    }

    const quint64 directoryEnd = bigDirectoryEnd(archive.entries);
    QSet<QByteArray> told;
    for (const BigEntry *entry : chosen) {
        const QByteArray path = QByteArray(entry->path).replace('/', '\\');
        const quint64 size = quint32(entry->size);
        const std::optional<QStringList> parts = safeEntryPath(entry->path);
        const QString misread = parts ? systemNameProblem(*parts) : QString();
        if (!parts)
            problems.push_back({entry, QStringLiteral("extract would refuse its name")});
        else if (!misread.isEmpty())
            problems.push_back(
                {entry, QStringLiteral("extract would refuse it here: %1").arg(misread)});
        if (paths.value(path) > 1 && !told.contains(path)) {
            told.insert(path);
            problems.push_back(
                {entry, QStringLiteral("%1 entries have this path").arg(paths.value(path))});
        }
        if (folders.contains(path))
            problems.push_back({entry, QStringLiteral("it is also a folder of the archive")});
        if (caseOf.contains(entry))
            problems.push_back(
                {entry, QStringLiteral("it differs only in case from %1: extract on Windows, or "
                                       "into a folder that ignores case, writes only one")
                            .arg(escapedForTerminal(caseOf.value(entry)))});
        if (size == 0 && quint32(entry->offset) > archive.imageSize)
            problems.push_back({entry, QStringLiteral("its offset lies past the end of the "
                                                      "archive")});
        if (archive.presentBytes(*entry) < size)
            problems.push_back({entry, QStringLiteral("it reaches past the end of the archive "
                                                      "(%1 of its %2 bytes exist)")
                                           .arg(archive.presentBytes(*entry))
                                           .arg(size)});
        if (size > 0 && quint32(entry->offset) < directoryEnd)
            problems.push_back({entry, QStringLiteral("it overlaps the directory")});
        if (const BigEntry *other = overlapping.value(entry))
            problems.push_back(
                {entry,
                 QStringLiteral("it overlaps %1").arg(escapedForTerminal(other->pathText()))});
    }
}

// The stored bytes of entries, read through a window of the file, many
// entries at a time. An entry larger than the window goes into a buffer of
// its own when it must be whole (to be unpacked or decoded); else it is
// read through the window in turns, only to see that it reads.
class StoredBytes
{
public:
    explicit StoredBytes(const BigArchive &archive) : archive(archive) {}

    // The entry's stored bytes. Null with `problem` set when they cannot be
    // read; null with `problem` empty when, not `whole`, they were read in
    // turns and are not held.
    const char *read(const BigEntry &entry, bool whole, QString &problem)
    {
        const size_t length = size_t(archive.presentBytes(entry));
        const quint64 offset = quint32(entry.offset);
        if (const char *image = archive.keptImage())
            return image + offset;
        if (length > kWindow && whole) {
            char *buffer = memorysize::fits(length, 1) ? large.get(length + 1) : nullptr;
            if (buffer && archive.file()->readAt(buffer, length, offset) == int64_t(length))
                return buffer;
            problem = buffer ? QStringLiteral("it cannot be read: %1").arg(systemError())
                             : QStringLiteral("Not enough memory to read it");
            return nullptr;
        }
        char *buffer = window.get(kWindow);
        if (!buffer) {
            problem = QStringLiteral("Not enough memory to read it");
            return nullptr;
        }
        if (length <= kWindow && offset >= start && offset + length <= end)
            return buffer + (offset - start);
        // Small: the window is filled from here, for the entries that follow.
        for (size_t at = 0; at < std::max<size_t>(length, 1); at += kWindow) {
            const size_t piece = std::min(kWindow, length - at);
            const int64_t got =
                archive.file()->readAt(buffer, length <= kWindow ? kWindow : piece, offset + at);
            start = offset + at;
            end = start + quint64(std::max<int64_t>(got, 0));
            if (got < int64_t(piece)) {
                problem = QStringLiteral("it cannot be read: %1").arg(systemError());
                start = end = 0;
                return nullptr;
            }
        }
        return length <= kWindow ? buffer : nullptr;
    }

    // Whether the entry's first bytes say that it is a Refp stream.
    bool compressed(const BigEntry &entry) const
    {
        const size_t length = size_t(archive.presentBytes(entry));
        const size_t n = std::min<size_t>(length, 16);
        char head[16];
        const char *bytes = archive.keptImage();
        if (bytes)
            bytes += quint32(entry.offset);
        else if (archive.file()->readAt(head, n, quint32(entry.offset)) == int64_t(n))
            bytes = head;
        return bytes && entryForm(bytes, n, length) != EntryForm::Stored;
    }

private:
    static constexpr size_t kWindow = 8u << 20;
    const BigArchive &archive;
    Buffer window, large;
    quint64 start = 0, end = 0; // the bytes of the file the window holds
};

// Reads each chosen entry and unpacks it when it is compressed; with
// `pictures`, decodes its picture too. Entries that share a stream (the
// same offset and size) are read and unpacked once, and decoded once for
// each kind of picture their names give. All the unpacking together stays
// within what the archive's bytes can produce (257 times them), so that
// overlapping streams cannot multiply the work.
void checkData(const BigArchive &archive, std::vector<const BigEntry *> chosen, bool pictures,
               std::vector<Problem> &problems)
{
    // In file order, one pass over the archive; a stream's entries together.
    std::stable_sort(chosen.begin(), chosen.end(), [](const BigEntry *a, const BigEntry *b) {
        return std::make_pair(quint32(a->offset), quint32(a->size)) <
               std::make_pair(quint32(b->offset), quint32(b->size));
    });
    const quint64 budget = std::max<quint64>(archive.imageSize, 1u << 20) * 257;
    quint64 spent = 0;
    StoredBytes reader(archive);
    Buffer unpacked;
    QStringList said;
    const vorland::Reporter previous =
        vorland::setReporter([&](const QString &message) { said << message; });
    auto kindOf = [&](const BigEntry *entry) {
        return pictures ? pictureKindByName(entry->pathText()) : PictureKind::Unknown;
    };
    for (size_t first = 0, next; first < chosen.size(); first = next) {
        const BigEntry &stream = *chosen[first];
        bool anyPicture = false;
        for (next = first; next < chosen.size() && chosen[next]->offset == stream.offset &&
                           chosen[next]->size == stream.size;
             ++next)
            anyPicture = anyPicture || kindOf(chosen[next]) != PictureKind::Unknown;

        // The stream's own problems, and its bytes unpacked.
        QStringList found;
        const bool compressed = reader.compressed(stream);
        QString problem;
        const char *bytes = reader.read(stream, compressed || anyPicture, problem);
        size_t length = size_t(archive.presentBytes(stream));
        if (!problem.isEmpty()) {
            found << problem;
        } else if (bytes && compressed) {
            const uint32_t n = GfxCoreCodec::unpackedSize(bytes, length);
            char *out = nullptr;
            if (entryForm(bytes, std::min<size_t>(length, 16), length) == EntryForm::Undecodable)
                found << QStringLiteral("it %1").arg(undecodableText());
            else if (spent + n > budget)
                found << QStringLiteral("it is not unpacked: the entries before it unpacked "
                                        "all that the archive's bytes can hold, overlapping");
            else if (!(out = unpacked.get(size_t(n) + 1)))
                found << QStringLiteral("Not enough memory to unpack it (%1 bytes)").arg(n);
            else if (!GfxCoreCodec::unpack(bytes, length, out, n))
                found << QStringLiteral("it %1").arg(undecodableText());
            spent += n;
            bytes = found.isEmpty() ? out : nullptr;
            length = n;
        }

        // Each entry: the stream's problems, and its picture's.
        QHash<int, QStringList> byKind;
        for (size_t i = first; i < next; ++i) {
            for (const QString &text : qAsConst(found))
                problems.push_back({chosen[i], text});
            const PictureKind kind = kindOf(chosen[i]);
            if (kind == PictureKind::Unknown || !bytes)
                continue;
            if (!byKind.contains(int(kind))) {
                QStringList &seen = byKind[int(kind)];
                said.clear();
                if (length > 0xFFFFFFFFu) {
                    seen << QStringLiteral("its picture is too large to decode");
                } else {
                    const DecodedPicture picture = decodePicture(
                        kind, reinterpret_cast<const uchar *>(bytes), quint32(length));
                    if (!picture.ok)
                        seen << QStringLiteral("its picture does not decode: %1")
                                    .arg(said.value(0, QStringLiteral("no reason given")));
                    else if (!picture.damage.isEmpty())
                        seen << QStringLiteral("its picture is damaged: %1").arg(picture.damage);
                }
            }
            for (const QString &text : byKind.value(int(kind)))
                problems.push_back({chosen[i], text});
        }
    }
    vorland::setReporter(previous);
}

} // namespace

int runTest(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("test"),
        QStringLiteral("Reads every entry (or those the patterns pick) and checks the\n"
                       "archive: entries past its end or over its directory, entries\n"
                       "that overlap, paths given twice, names extract would refuse, a\n"
                       "name that is both a file and a folder, and every Refp-compressed\n"
                       "entry unpacked whole (a stream that entries share, once; all of\n"
                       "them, no more than 257 times the archive's bytes). One line per\n"
                       "problem, then \"N entries, N problems\"; exit status 1 when there\n"
                       "is any."));
    const QCommandLineOption picturesOption(
        QStringLiteral("pictures"), QStringLiteral("Decode every PNG, TGA and TPI entry too."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral("Print {\"entries\": N, \"problems\": [{\"path\", \"problem\"}]}."));
    verb.addOptions({picturesOption, jsonOption});
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive."));
    verb.addPositional(QStringLiteral("PATTERN"),
                       QStringLiteral("Entries to test: names or patterns (default: all)."),
                       QStringLiteral("[PATTERN...]"));
    if (auto done = verb.parse(arguments, 1, -1))
        return *done;
    QStringList names = verb.parser.positionalArguments();
    const QString archivePath = names.takeFirst();
    BigArchive archive;
    if (!openArchive(archivePath, archive))
        return Failure;
    bool complete = true;
    const std::vector<const BigEntry *> chosen =
        selectEntries(archive, archivePath, names, complete);

    std::vector<Problem> problems;
    checkDirectory(archive, chosen, problems);
    checkData(archive, chosen, verb.parser.isSet(picturesOption), problems);

    if (verb.parser.isSet(jsonOption)) {
        QJsonArray list;
        for (const Problem &p : problems)
            list.append(QJsonObject{{"path", p.entry ? p.entry->pathText() : QString()},
                                    {"problem", p.text}});
        const QByteArray text =
            QJsonDocument(QJsonObject{{"entries", double(chosen.size())}, {"problems", list}})
                .toJson(QJsonDocument::Indented);
        writeOut(text.constData(), size_t(text.size()));
    } else {
        QString text;
        for (const Problem &p : problems)
            text += (p.entry ? escapedForTerminal(p.entry->pathText()) : archivePath) +
                    QStringLiteral(": ") + p.text + QLatin1Char('\n');
        text += QStringLiteral("%1 entries, %2 problems\n").arg(chosen.size()).arg(problems.size());
        printOut(text);
    }
    if (!problems.empty())
        printError(QStringLiteral("%1: %2 problems")
                       .arg(escapedForTerminal(archivePath))
                       .arg(problems.size()));
    return problems.empty() && complete ? Success : Failure;
}

} // namespace cli
