// test: reads every entry and checks the archive, as unzip -t and 7z t do.

#include "verbs.h"

#include "archiveaccess.h"
#include "atomicfile.h"
#include "bigwriter.h"
#include "cliutil.h"
#include "entrydata.h"
#include "gfxcorecodec.h"
#include "heldfile.h"
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

// Reads each chosen entry whole and unpacks it when it is compressed; with
// `pictures`, decodes its picture too.
void checkData(const BigArchive &archive, std::vector<const BigEntry *> chosen, bool pictures,
               std::vector<Problem> &problems)
{
    // In file order: one pass over the archive.
    std::stable_sort(chosen.begin(), chosen.end(), [](const BigEntry *a, const BigEntry *b) {
        return quint32(a->offset) < quint32(b->offset);
    });
    // Entries are read through a window of the file, many at a time.
    constexpr size_t kWindow = 8u << 20;
    Buffer window, stored, unpacked;
    quint64 windowStart = 0, windowEnd = 0;
    QStringList said;
    const vorland::Reporter previous =
        vorland::setReporter([&](const QString &message) { said << message; });
    for (const BigEntry *entry : chosen) {
        const size_t length = size_t(archive.presentBytes(*entry));
        const quint64 offset = quint32(entry->offset);
        const char *bytes = archive.keptImage();
        if (bytes) {
            bytes += offset;
        } else if (length <= kWindow) {
            if (offset < windowStart || offset + length > windowEnd) {
                char *buffer = window.get(kWindow);
                const int64_t got = buffer ? archive.file()->readAt(buffer, kWindow, offset) : -1;
                windowStart = offset;
                windowEnd = offset + quint64(qMax<int64_t>(got, 0));
                if (got < 0 || offset + length > windowEnd) {
                    windowEnd = windowStart;
                    problems.push_back(
                        {entry, QStringLiteral("it cannot be read: %1")
                                    .arg(buffer ? systemError() : QStringLiteral("no memory"))});
                    continue;
                }
            }
            bytes = window.get(kWindow) + (offset - windowStart);
        } else {
            char *buffer = stored.get(length + 1);
            if (!buffer) {
                problems.push_back({entry, QStringLiteral("Not enough memory to read it")});
                continue;
            }
            if (archive.file()->readAt(buffer, length, quint32(entry->offset)) != int64_t(length)) {
                problems.push_back(
                    {entry, QStringLiteral("it cannot be read: %1").arg(systemError())});
                continue;
            }
            bytes = buffer;
        }
        size_t working = length;
        switch (entryForm(bytes, std::min<size_t>(length, 16), length)) {
        case EntryForm::Stored: break;
        case EntryForm::Undecodable:
            problems.push_back({entry, QStringLiteral("it %1").arg(undecodableText())});
            break;
        case EntryForm::Compressed: {
            const uint32_t n = GfxCoreCodec::unpackedSize(bytes, length);
            char *out = unpacked.get(size_t(n) + 1);
            if (!out) {
                problems.push_back({entry, QStringLiteral("Not enough memory to unpack it "
                                                          "(%1 bytes)")
                                               .arg(n)});
                continue;
            }
            if (!GfxCoreCodec::unpack(bytes, length, out, n)) {
                problems.push_back({entry, QStringLiteral("it %1").arg(undecodableText())});
                continue;
            }
            bytes = out;
            working = n;
            break;
        }
        }
        const PictureKind kind =
            pictures ? pictureKindByName(entry->pathText()) : PictureKind::Unknown;
        if (kind == PictureKind::Unknown)
            continue;
        if (working > 0xFFFFFFFFu) {
            problems.push_back({entry, QStringLiteral("its picture is too large to decode")});
            continue;
        }
        said.clear();
        const DecodedPicture picture =
            decodePicture(kind, reinterpret_cast<const uchar *>(bytes), quint32(working));
        if (!picture.ok)
            problems.push_back({entry, QStringLiteral("its picture does not decode: %1")
                                           .arg(said.value(0, QStringLiteral("no reason given")))});
        else if (!picture.damage.isEmpty())
            problems.push_back(
                {entry, QStringLiteral("its picture is damaged: %1").arg(picture.damage)});
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
                       "entry unpacked whole. One line per problem, then \"N entries,\n"
                       "N problems\"; exit status 1 when there is any."));
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
