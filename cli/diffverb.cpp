// diff: two archives, or an archive and a folder, entry by entry.

#include "verbs.h"

#include "archiveaccess.h"
#include "cliutil.h"
#include "safepath.h"
#include "treecompare.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {

namespace {

// Trouble, as diff says it.
constexpr int kTrouble = 2;

bool openSide(const QString &path, BigArchive &archive, TreeSide &side, bool &leftOut)
{
    QString problem;
    if (QFileInfo(path).isDir()) {
        if (side.openFolder(path, problem))
            return true;
    } else {
        if (!openArchive(path, archive))
            return false;
        // Entries left out for their long paths, which openArchive
        // has warned of, are not compared.
        leftOut = leftOut || archive.longPaths > 0;
        if (side.openArchive(archive, problem))
            return true;
    }
    printError(problem);
    return false;
}

} // namespace

int runDiff(const QStringList &arguments)
{
    VerbParser verb(
        QStringLiteral("diff"),
        QStringLiteral("Compares OLD with NEW, each an archive or a folder: the paths only\n"
                       "in one, and those whose bytes differ, in the order of the paths.\n"
                       "Entries count as extract writes them: paths joined by \"/\", bytes\n"
                       "unpacked (an entry only compressed differently is the same), the\n"
                       "first entry of a path, names extract refuses left out with a\n"
                       "warning. Where folders ignore case (Windows), so do paths. Links\n"
                       "in a folder are not followed and equal nothing.\n"
                       "Lines: \"Only in OLD: PATH\", \"Only in NEW: PATH\", \"Files differ:\n"
                       "PATH\". Exit status as diff's: 0 the same, 1 different, 2 trouble\n"
                       "(something could not be read or was left out).\n"
                       "JSON: {\"onlyInOld\", \"onlyInNew\", \"differ\": [PATH...], \"same\": N,\n"
                       "\"problems\": [TEXT...]}."));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("Print JSON."));
    verb.addOption(jsonOption);
    verb.addPositional(QStringLiteral("OLD"), QStringLiteral("Archive or folder."));
    verb.addPositional(QStringLiteral("NEW"), QStringLiteral("Archive or folder."));
    if (auto done = verb.parse(arguments, 2, 2))
        return *done;
    const QStringList paths = verb.parser.positionalArguments();
    BigArchive oldArchive, newArchive;
    TreeSide oldSide, newSide;
    bool leftOut = false;
    if (!openSide(paths[0], oldArchive, oldSide, leftOut) ||
        !openSide(paths[1], newArchive, newSide, leftOut))
        return kTrouble;
    TreeComparison comparison;
    comparison.run(oldSide, newSide);

    QStringList problems = oldSide.warnings + newSide.warnings + comparison.problems;
    for (const QString &problem : qAsConst(problems))
        printError(QStringLiteral("warning: ") + problem);
    const int changed = reportChangedFiles(comparison.changed);
    if (verb.parser.isSet(jsonOption)) {
        QJsonArray lists[3];
        for (const TreeDifference &d : comparison.differences)
            lists[d.kind].append(d.path);
        QJsonArray problemList;
        for (const QString &problem : qAsConst(problems) + comparison.changed)
            problemList.append(problem);
        const QByteArray text = QJsonDocument(QJsonObject{{"onlyInOld", lists[0]},
                                                          {"onlyInNew", lists[1]},
                                                          {"differ", lists[2]},
                                                          {"same", double(comparison.same)},
                                                          {"problems", problemList}})
                                    .toJson(QJsonDocument::Indented);
        writeOut(text.constData(), size_t(text.size()));
    } else {
        const QString onlyOld = QStringLiteral("Only in %1: ").arg(escapedForTerminal(paths[0]));
        const QString onlyNew = QStringLiteral("Only in %1: ").arg(escapedForTerminal(paths[1]));
        const QString differ = QStringLiteral("Files differ: ");
        QString text;
        for (const TreeDifference &d : comparison.differences) {
            text += (d.kind == TreeDifference::OnlyOld   ? onlyOld
                     : d.kind == TreeDifference::OnlyNew ? onlyNew
                                                         : differ) +
                    escapedForTerminal(d.path) + QLatin1Char('\n');
            if (text.size() > (1 << 16)) {
                printOut(text);
                text.clear();
            }
        }
        printOut(text);
    }
    if (!problems.isEmpty() || leftOut)
        return kTrouble;
    return comparison.differences.empty() && changed == Success ? Success : Failure;
}

} // namespace cli
