// info, list and cat: looking into an archive.

#include "verbs.h"

#include "archiveaccess.h"
#include "archivefile.h"
#include "cliutil.h"
#include "console.h"
#include "entrydata.h"
#include "safepath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QHash>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

namespace cli {
namespace {

const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Print JSON."));

// The Type column's text for the last component of a stored path.
QString typeOf(const BigEntry &entry)
{
    const int cut = entry.path.lastIndexOf('\\');
    return ArchiveFile(nullptr, QString::fromLatin1(entry.path.mid(cut + 1)), 0, 0).typeText();
}

// The Type column's text, escaped and encoded for output, for each entry:
// worked out once for each extension, which come again and again, often
// many times in a row.
class TypeColumn
{
public:
    const QByteArray &of(const BigEntry &entry)
    {
        const char *begin = entry.path.constData();
        const char *end = begin + entry.path.size();
        const char *dot = end;
        while (dot != begin && dot[-1] != '.' && dot[-1] != '\\')
            --dot;
        // No entry path holds a NUL byte: it stands for "no extension".
        const bool hasExtension = dot != begin && dot[-1] == '.';
        const QByteArray key = hasExtension ? QByteArray::fromRawData(dot, int(end - dot))
                                            : QByteArray::fromRawData("", 1);
        if (last && lastKey == key)
            return *last;
        auto found = known.constFind(key);
        if (found == known.constEnd())
            found = known.insert(QByteArray(key.constData(), key.size()),
                                 outputText(escapedForTerminal(typeOf(entry))));
        lastKey = found.key();
        last = &found.value();
        return *last;
    }

private:
    QHash<QByteArray, QByteArray> known;
    QByteArray lastKey;
    const QByteArray *last = nullptr;
};

// Appends an entry's path as output text, control characters escaped. A
// path of printable ASCII, nearly every one, is its own output.
void appendPath(std::string &out, const BigEntry &entry)
{
    const bool plain = std::all_of(entry.path.begin(), entry.path.end(),
                                   [](char c) { return c >= 0x20 && c < 0x7F; });
    if (plain) {
        out.append(entry.path.constData(), size_t(entry.path.size()));
    } else {
        const QByteArray text = outputText(escapedForTerminal(entry.pathText()));
        out.append(text.constData(), size_t(text.size()));
    }
}

void appendNumber(std::string &out, quint64 value)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, size_t(end.ptr - digits));
}

void printJson(const QJsonObject &object)
{
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Indented);
    writeOut(text.constData(), size_t(text.size()));
}

// Parses "VERB [--json] ARCHIVE [more]" and opens the archive for its
// directory. Answers an exit status when the verb is done already.
std::optional<int> openForReading(VerbParser &verb, const QStringList &arguments,
                                  BigArchive &archive, int maxPositional = 1)
{
    verb.addOption(jsonOption);
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive."));
    if (maxPositional != 1)
        verb.addPositional(QStringLiteral("PATTERN"),
                           QStringLiteral("Entries to list: names or patterns (default: all)."),
                           QStringLiteral("[PATTERN...]"));
    if (auto done = verb.parse(arguments, 1, maxPositional))
        return done;
    // A whole-file compressed archive is unpacked only as far as its
    // directory; entries' headers are taken in one pass over the rest.
    archive.directoryOnly = true;
    if (!openArchive(verb.parser.positionalArguments().at(0), archive))
        return Failure;
    return std::nullopt;
}

// "12.5%": how much smaller the stored bytes are than the unpacked ones.
QString saving(quint64 stored, quint64 unpacked)
{
    if (unpacked == 0)
        return QStringLiteral("0%");
    return QString::number(100.0 * (double(unpacked) - double(stored)) / double(unpacked), 'f', 1) +
           QLatin1Char('%');
}

// unzip -v style: stored and unpacked size, method, saving, type, path, and
// a total line.
void printLong(const std::vector<const BigEntry *> &chosen,
               const std::vector<EntryStorage> &storage)
{
    const QString row = QStringLiteral("%1 %2  %3  %4  %5  %6\n");
    QString text = row.arg(QStringLiteral("Stored"), 10)
                       .arg(QStringLiteral("Unpacked"), 10)
                       .arg(QStringLiteral("Method"), -6)
                       .arg(QStringLiteral("Saved"), 6)
                       .arg(QStringLiteral("Type"), -16)
                       .arg(QStringLiteral("Path"));
    const QString rule = row.arg(QString(10, '-'), QString(10, '-'), QString(6, '-'),
                                 QString(6, '-'), QString(16, '-'), QString(4, '-'));
    text += rule;
    quint64 storedTotal = 0, unpackedTotal = 0;
    for (size_t i = 0; i < chosen.size(); ++i) {
        const quint64 stored = quint32(chosen[i]->size);
        storedTotal += stored;
        unpackedTotal += storage[i].unpackedSize;
        text +=
            row.arg(stored, 10)
                .arg(storage[i].unpackedSize, 10)
                .arg(storage[i].compressed() ? QStringLiteral("refp") : QStringLiteral("stored"),
                     -6)
                .arg(saving(stored, storage[i].unpackedSize), 6)
                .arg(escapedForTerminal(typeOf(*chosen[i])), -16)
                .arg(escapedForTerminal(chosen[i]->pathText()));
        if (text.size() > (1 << 16)) {
            printOut(text);
            text.clear();
        }
    }
    text += rule;
    text += row.arg(storedTotal, 10)
                .arg(unpackedTotal, 10)
                .arg(QString(), -6)
                .arg(saving(storedTotal, unpackedTotal), 6)
                .arg(QString(), -16)
                .arg(QStringLiteral("%1 entries").arg(chosen.size()));
    printOut(text);
}

} // namespace

int runInfo(const QStringList &arguments)
{
    VerbParser verb(QStringLiteral("info"),
                    QStringLiteral("Shows an archive's header fields and what the reader found.\n"
                                   "JSON keys: entryCount (the header's number), entriesRead,\n"
                                   "compressed (whole file is Refp), archiveSize, headerLength,\n"
                                   "fileSize (bytes on disk), imageSize (bytes after unpacking),\n"
                                   "compressedEntries (entries stored Refp-compressed),\n"
                                   "unpackedSize (all entries unpacked, from their headers)."));
    BigArchive archive;
    if (auto done = openForReading(verb, arguments, archive))
        return *done;
    bool complete = true;
    const std::vector<const BigEntry *> all = selectEntries(archive, QString(), {}, complete);
    std::vector<EntryStorage> storage;
    if (!storageOf(archive, all, storage))
        return Failure;
    quint64 compressedEntries = 0, unpacked = 0;
    for (const EntryStorage &each : storage) {
        compressedEntries += each.compressed();
        unpacked += each.unpackedSize;
    }

    const QJsonObject info{
        {"entryCount", double(archive.entryCount)},
        {"entriesRead", double(archive.entries.size())},
        {"compressed", archive.compressed},
        {"archiveSize", double(archive.archiveSize)},
        {"headerLength", double(archive.headerLength)},
        {"fileSize", double(archive.fileSize)},
        {"imageSize", double(archive.imageSize)},
        {"compressedEntries", double(compressedEntries)},
        {"unpackedSize", double(unpacked)},
    };
    if (verb.parser.isSet(jsonOption)) {
        printJson(info);
        return Success;
    }
    printOut(QStringLiteral("entryCount: %1\nentriesRead: %2\ncompressed: %3\narchiveSize: %4\n"
                            "headerLength: %5\nfileSize: %6\nimageSize: %7\n"
                            "compressedEntries: %8\nunpackedSize: %9\n")
                 .arg(archive.entryCount)
                 .arg(archive.entries.size())
                 .arg(archive.compressed ? QStringLiteral("yes") : QStringLiteral("no"))
                 .arg(archive.archiveSize)
                 .arg(archive.headerLength)
                 .arg(archive.fileSize)
                 .arg(archive.imageSize)
                 .arg(compressedEntries)
                 .arg(unpacked));
    return Success;
}

int runList(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("list"),
        QStringLiteral(
            "Lists the directory in its order, or the entries the names or\n"
            "patterns pick (\"*\", \"?\", \"[...]\" over the whole path, ignoring\n"
            "case; a pattern that picks nothing is an error): size, offset, type\n"
            "and path, tab-separated; control characters in paths are shown\n"
            "escaped (\\x1b, \\n, \\t). --long shows stored and unpacked size,\n"
            "method (stored or refp), the share saved, type and path, and a\n"
            "total. JSON: {\"entryCount\": N, \"entries\": [{\"path\", \"offset\",\n"
            "\"size\", \"type\", \"compressed\", \"unpackedSize\"}]}; each path byte is\n"
            "the character U+0000-U+00FF of the same code. Unpacked sizes come\n"
            "from the Refp headers: nothing is unpacked."));
    const QCommandLineOption longOption({QStringLiteral("l"), QStringLiteral("long")},
                                        QStringLiteral("Sizes, method and saving, with a total."));
    verb.addOption(longOption);
    BigArchive archive;
    if (auto done = openForReading(verb, arguments, archive, -1))
        return *done;
    QStringList names = verb.parser.positionalArguments();
    const QString archivePath = names.takeFirst();
    bool complete = true;
    const bool json = verb.parser.isSet(jsonOption), detailed = verb.parser.isSet(longOption);
    // The plain listing of a whole directory goes over it as it is.
    const bool whole = names.isEmpty() && !json && !detailed;
    const std::vector<const BigEntry *> chosen =
        whole ? std::vector<const BigEntry *>()
              : selectEntries(archive, archivePath, names, complete);
    std::vector<EntryStorage> storage;
    if ((json || detailed) && !storageOf(archive, chosen, storage))
        return Failure;

    if (json) {
        QJsonArray entries;
        for (size_t i = 0; i < chosen.size(); ++i) {
            const BigEntry &entry = *chosen[i];
            entries.append(QJsonObject{{"path", entry.pathText()},
                                       {"offset", double(quint32(entry.offset))},
                                       {"size", double(quint32(entry.size))},
                                       {"type", typeOf(entry)},
                                       {"compressed", storage[i].compressed()},
                                       {"unpackedSize", double(storage[i].unpackedSize)}});
        }
        printJson(QJsonObject{{"entryCount", double(archive.entryCount)}, {"entries", entries}});
    } else if (detailed) {
        printLong(chosen, storage);
    } else {
        // Bytes straight to the output: a directory of 200,000 entries is
        // listed as fast as it is read.
        TypeColumn types;
        std::string text;
        text.reserve((1 << 16) + 1024);
        const auto line = [&](const BigEntry &entry) {
            appendNumber(text, quint32(entry.size));
            text += '\t';
            appendNumber(text, quint32(entry.offset));
            text += '\t';
            const QByteArray &type = types.of(entry);
            text.append(type.constData(), size_t(type.size()));
            text += '\t';
            appendPath(text, entry);
            text += '\n';
            if (text.size() > (1 << 16)) {
                writeOut(text.data(), text.size());
                text.clear();
            }
        };
        if (whole) {
            for (const BigEntry &entry : archive.entries)
                line(entry);
        } else {
            for (const BigEntry *entry : chosen)
                line(*entry);
        }
        writeOut(text.data(), text.size());
    }
    return complete ? Success : Failure;
}

int runCat(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("cat"),
        QStringLiteral("Writes an entry's bytes to stdout, unpacked when they are\n"
                       "Refp-compressed. ENTRY is the stored path (\"/\" stands for \"\\\");\n"
                       "the first entry of that path in directory order is taken. An entry\n"
                       "that reaches past the end of the archive gives the bytes that exist,\n"
                       "a warning and exit status 1; so does one that looks Refp-compressed\n"
                       "but does not decode, whose stored bytes are written."));
    const QCommandLineOption rawOption(QStringLiteral("raw"),
                                       QStringLiteral("Write the bytes as stored."));
    verb.addOption(rawOption);
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive."));
    verb.addPositional(QStringLiteral("ENTRY"), QStringLiteral("Path of the entry."));
    if (auto done = verb.parse(arguments, 2, 2))
        return *done;
    const QStringList positional = verb.parser.positionalArguments();
    BigArchive archive;
    if (!openArchive(positional.at(0), archive))
        return Failure;
    const BigEntry *entry = pickEntry(archive, positional.at(0), positional.at(1));
    if (!entry)
        return Failure;
    const EntryResult result = sendEntry(archive, *entry, verb.parser.isSet(rawOption), writeOut);
    if (result.kind == EntryResult::Stopped)
        return Failure; // stdout failed, which the caller reports
    if (result.kind != EntryResult::Done) {
        printError(entry->pathText() + QStringLiteral(": ") + describeEntryResult(result, *entry));
        return Failure;
    }
    return Success;
}

} // namespace cli
