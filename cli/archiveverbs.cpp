// info, list and cat: looking into an archive.

#include "verbs.h"

#include "archiveaccess.h"
#include "archivefile.h"
#include "cliutil.h"
#include "entrydata.h"
#include "safepath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <optional>

namespace cli {
namespace {

const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Print JSON."));

// The Type column's text for the last component of a stored path.
QString typeOf(const BigEntry &entry)
{
    const int cut = entry.path.lastIndexOf('\\');
    return ArchiveFile(nullptr, QString::fromLatin1(entry.path.mid(cut + 1)), 0, 0).typeText();
}

void printJson(const QJsonObject &object)
{
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Indented);
    writeOut(text.constData(), size_t(text.size()));
}

// Parses "VERB [--json] ARCHIVE" and opens the archive. Answers an exit
// status when the verb is done already.
std::optional<int> openForReading(VerbParser &verb, const QStringList &arguments,
                                  BigArchive &archive)
{
    verb.addOption(jsonOption);
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive."));
    if (auto done = verb.parse(arguments, 1, 1))
        return done;
    if (!openArchive(verb.parser.positionalArguments().at(0), archive))
        return Failure;
    return std::nullopt;
}

} // namespace

int runInfo(const QStringList &arguments)
{
    VerbParser verb(QStringLiteral("info"),
                    QStringLiteral("Shows an archive's header fields and what the reader found.\n"
                                   "JSON keys: entryCount (the header's number), entriesRead,\n"
                                   "compressed (whole file is Refp), archiveSize, headerLength,\n"
                                   "fileSize (bytes on disk), imageSize (bytes after unpacking)."));
    BigArchive archive;
    if (auto done = openForReading(verb, arguments, archive))
        return *done;

    const QJsonObject info{
        {"entryCount", double(archive.entryCount)},
        {"entriesRead", double(archive.entries.size())},
        {"compressed", archive.compressed},
        {"archiveSize", double(archive.archiveSize)},
        {"headerLength", double(archive.headerLength)},
        {"fileSize", double(archive.fileSize)},
        {"imageSize", double(archive.imageSize)},
    };
    if (verb.parser.isSet(jsonOption)) {
        printJson(info);
        return Success;
    }
    printOut(QStringLiteral("entryCount: %1\nentriesRead: %2\ncompressed: %3\narchiveSize: %4\n"
                            "headerLength: %5\nfileSize: %6\nimageSize: %7\n")
                 .arg(archive.entryCount)
                 .arg(archive.entries.size())
                 .arg(archive.compressed ? QStringLiteral("yes") : QStringLiteral("no"))
                 .arg(archive.archiveSize)
                 .arg(archive.headerLength)
                 .arg(archive.fileSize)
                 .arg(archive.imageSize));
    return Success;
}

int runList(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("list"),
        QStringLiteral("Lists the directory in its order: size, offset, type and path,\n"
                       "tab-separated; control characters in paths are shown escaped\n"
                       "(\\x1b, \\n, \\t). JSON: {\"entryCount\": N, \"entries\": [{\"path\",\n"
                       "\"offset\", \"size\", \"type\"}]}; each path byte is the character\n"
                       "U+0000-U+00FF of the same code."));
    BigArchive archive;
    if (auto done = openForReading(verb, arguments, archive))
        return *done;

    if (verb.parser.isSet(jsonOption)) {
        QJsonArray entries;
        for (const BigEntry &entry : archive.entries)
            entries.append(QJsonObject{{"path", entry.pathText()},
                                       {"offset", double(quint32(entry.offset))},
                                       {"size", double(quint32(entry.size))},
                                       {"type", typeOf(entry)}});
        printJson(QJsonObject{{"entryCount", double(archive.entryCount)}, {"entries", entries}});
        return Success;
    }
    QString text;
    for (const BigEntry &entry : archive.entries) {
        text += QStringLiteral("%1\t%2\t%3\t%4\n")
                    .arg(quint32(entry.size))
                    .arg(quint32(entry.offset))
                    .arg(typeOf(entry), escapedForTerminal(entry.pathText()));
        if (text.size() > (1 << 16)) {
            printOut(text);
            text.clear();
        }
    }
    printOut(text);
    return Success;
}

int runCat(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("cat"),
        QStringLiteral("Writes an entry's bytes to stdout, unpacked when they are\n"
                       "Refp-compressed. ENTRY is the stored path (\"/\" stands for \"\\\");\n"
                       "the first entry of that path in directory order is taken. An entry\n"
                       "that reaches past the end of the archive gives the bytes that exist,\n"
                       "a warning and exit status 1."));
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
    const BigEntry *entry = findEntry(archive, positional.at(1));
    if (!entry) {
        printError(QStringLiteral("%1: no entry %2").arg(positional.at(0), positional.at(1)));
        return Failure;
    }
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
