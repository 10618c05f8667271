// find: which of several archives hold an entry, and which copy a game reads.

#include "verbs.h"

#include "archiveaccess.h"
#include "cliutil.h"
#include "entrypattern.h"
#include "overlay.h"
#include "safepath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <deque>
#include <memory>

namespace cli {
namespace {

// A name or pattern as find takes it: the name ignores case as patterns
// do, so that one spelling finds every archive's copy.
struct Wanted
{
    explicit Wanted(const QString &text)
        : text(text), pattern(text), name(EntryPattern::folded(text.toLatin1()))
    {
        for (const QChar c : text)
            representable = representable && c.unicode() <= 0xFF;
    }
    bool matches(const BigEntry &entry) const
    {
        return representable && ((pattern.isWildcard() && pattern.matches(entry.path)) ||
                                 EntryPattern::folded(entry.path) == name);
    }
    QString text;
    EntryPattern pattern;
    QByteArray name;
    bool representable = true;
    bool found = false;
};

// A matched entry, kept after its archive is closed.
struct Match
{
    int archive = 0;
    BigEntry entry; // its path copied
    EntryStorage storage;
};

} // namespace

int runFind(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("find"),
        QStringLiteral("Finds entries in several archives: every entry that a name or\n"
                       "pattern picks, in each ARCHIVE in the order given, in directory\n"
                       "order. Names and patterns ignore case and take \"/\" for \"\\\"\n"
                       "(\"*\", \"?\" and \"[...]\" as in list). With one NAME the \"--\" may\n"
                       "go: the first argument is the name, the rest are archives.\n"
                       "Each line: archive, path, unpacked size, method (stored or refp),\n"
                       "and \"wins\" for the copy a game reads with every archive loaded,\n"
                       "\"hidden\" for the others: the later archive wins (--first-wins: the\n"
                       "first), and within an archive the first entry of a path. Only\n"
                       "directories and entries' first bytes are read. Exit status 1 when\n"
                       "a name picks nothing or an archive cannot be read.\n"
                       "JSON: {\"matches\": [{\"archive\", \"path\", \"size\", \"storedSize\",\n"
                       "\"compressed\", \"wins\"}]}."));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Print JSON."));
    const QCommandLineOption firstWinsOption(
        QStringLiteral("first-wins"),
        QStringLiteral("The first archive that holds a path wins, not the last."));
    verb.addOptions({jsonOption, firstWinsOption});
    verb.addPositional(QStringLiteral("NAME"), QStringLiteral("Entry paths or patterns."),
                       QStringLiteral("NAME... --"));
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archives."),
                       QStringLiteral("ARCHIVE..."));
    const int dashes = arguments.indexOf(QStringLiteral("--"));
    if (auto done =
            verb.parse(dashes < 0 ? arguments : QStringList(arguments.mid(0, dashes)), 1, -1))
        return *done;
    QStringList names = verb.parser.positionalArguments();
    QStringList archives;
    if (dashes >= 0)
        archives = arguments.mid(dashes + 1);
    else if (names.size() > 1) {
        archives = names.mid(1);
        names = names.mid(0, 1);
    }
    if (archives.isEmpty())
        return verb.usageError(QStringLiteral("missing archives"));

    std::vector<Wanted> wanted;
    for (const QString &name : qAsConst(names))
        wanted.emplace_back(name);
    bool complete = true;
    std::deque<Match> matches; // stays where it is while it grows, for the overlay
    for (int a = 0; a < archives.size(); ++a) {
        BigArchive archive;
        archive.directoryOnly = true;
        if (!openArchive(archives[a], archive)) {
            complete = false;
            continue;
        }
        std::vector<const BigEntry *> chosen;
        for (const BigEntry &entry : archive.entries) {
            bool picked = false;
            for (Wanted &each : wanted) {
                if (each.matches(entry))
                    picked = each.found = true;
            }
            if (picked)
                chosen.push_back(&entry);
        }
        std::vector<EntryStorage> storage;
        if (!storageOf(archive, chosen, storage)) {
            complete = false;
            continue;
        }
        for (size_t i = 0; i < chosen.size(); ++i) {
            Match match{a, *chosen[i], storage[i]};
            match.entry.path = QByteArray(chosen[i]->path.constData(), chosen[i]->path.size());
            matches.push_back(std::move(match));
        }
    }
    for (const Wanted &each : wanted) {
        if (!each.found) {
            printError(QStringLiteral("no entry matches %1").arg(each.text));
            complete = false;
        }
    }

    Overlay overlay(verb.parser.isSet(firstWinsOption) ? Overlay::Rule::FirstWins
                                                       : Overlay::Rule::LaterWins);
    for (const Match &match : matches)
        overlay.offer(match.archive, match.entry);
    if (verb.parser.isSet(jsonOption)) {
        QJsonArray list;
        for (const Match &match : matches)
            list.append(QJsonObject{{"archive", archives[match.archive]},
                                    {"path", match.entry.pathText()},
                                    {"size", double(match.storage.unpackedSize)},
                                    {"storedSize", double(quint32(match.entry.size))},
                                    {"compressed", match.storage.compressed()},
                                    {"wins", overlay.wins(match.entry)}});
        const QByteArray text =
            QJsonDocument(QJsonObject{{"matches", list}}).toJson(QJsonDocument::Indented);
        writeOut(text.constData(), size_t(text.size()));
    } else {
        QString text;
        std::vector<QString> shownArchives;
        for (const QString &archive : qAsConst(archives))
            shownArchives.push_back(escapedForTerminal(archive));
        for (const Match &match : matches) {
            text +=
                shownArchives[size_t(match.archive)] + QLatin1Char('\t') +
                escapedForTerminal(match.entry.pathText()) + QLatin1Char('\t') +
                QString::number(match.storage.unpackedSize) +
                (match.storage.compressed() ? QLatin1String("\trefp\t")
                                            : QLatin1String("\tstored\t")) +
                (overlay.wins(match.entry) ? QLatin1String("wins\n") : QLatin1String("hidden\n"));
            if (text.size() > (1 << 16)) {
                printOut(text);
                text.clear();
            }
        }
        printOut(text);
    }
    return complete ? Success : Failure;
}

} // namespace cli
