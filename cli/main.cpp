// vorland-cli: the command-line tool over Vorland's archive and image
// libraries, for scripts. Data goes to stdout, messages to stderr; the exit
// status is 0 on success, 1 on failure and 2 on a usage error.

#include "atomicfile.h"
#include "cliutil.h"
#include "console.h"
#include "gfxcorecodec.h"
#include "library.h"
#include "pictureverbs.h"
#include "report.h"
#include "verbs.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

struct Verb
{
    const char *name;
    const char *syntax;
    const char *summary;
    int (*run)(const QStringList &arguments);
};

const Verb verbs[] = {
    {"info", "info [--json] ARCHIVE", "header fields and what the reader found", cli::runInfo},
    {"list", "list [--json|-l] ARCHIVE [PATTERN...]", "the directory: size, offset, type, path",
     cli::runList},
    {"cat", "cat [--raw] ARCHIVE ENTRY", "an entry's bytes on stdout", cli::runCat},
    {"extract", "extract ARCHIVE [-o DIR] [PATTERN...]", "entries into files under DIR (or here)",
     cli::runExtract},
    {"find", "find NAME... -- ARCHIVE...", "entries across archives, and which copy wins",
     cli::runFind},
    {"diff", "diff OLD NEW", "two archives or folders, entry by entry", cli::runDiff},
    {"test", "test [--pictures] ARCHIVE [PATTERN...]", "reads every entry and checks the archive",
     [](const QStringList &a) { return cli::runPictureVerb("test", a); }},
    {"pack", "pack [-C FOLDER] DIR -o ARCHIVE", "a folder's files into a new archive",
     cli::runPack},
    {"add", "add ARCHIVE [-C DIR] PATH... [--replace]", "files or folders into an archive",
     cli::runAdd},
    {"remove", "remove ARCHIVE PATTERN...", "entries out of an archive", cli::runRemove},
    {"rename", "rename ARCHIVE OLD NEW", "an entry under another path", cli::runRename},
    {"render", "render SOURCE [ENTRY] -o OUT.png", "an image decoded to an RGBA PNG",
     [](const QStringList &a) { return cli::runPictureVerb("render", a); }},
    {"convert", "convert IN OUT [--format F]", "a picture to TPI, TGA or PNG",
     [](const QStringList &a) { return cli::runPictureVerb("convert", a); }},
    {"thumbnail", "thumbnail [-s SIZE] IN OUT.png", "a small PNG of a picture or archive",
     [](const QStringList &a) { return cli::runPictureVerb("thumbnail", a); }},
    {"mount", "mount ARCHIVE... MOUNTPOINT [-f]", "archives as one read-only folder",
     cli::runMount},
    {"compress", "compress IN OUT", "a file into a Refp stream (- for stdin, stdout)",
     cli::runCompress},
    {"decompress", "decompress IN OUT", "a Refp stream back into its file", cli::runDecompress},
};

QString toolHelp()
{
    QString text = QStringLiteral("Usage: vorland-cli VERB [OPTIONS] ARGUMENTS...\n"
                                  "Lists, unpacks and converts the contents of BIG archives.\n\n"
                                  "Verbs:\n");
    for (const Verb &verb : verbs)
        text += QStringLiteral("  %1  %2\n")
                    .arg(QLatin1String(verb.syntax), -38)
                    .arg(QLatin1String(verb.summary));
    text += QStringLiteral("\n'vorland-cli VERB --help' describes a verb; --version says which\n"
                           "Vorland this is.\n"
                           "Exit status: 0 success, 1 failure, 2 usage error.\n");
    return text;
}

// Runs one verb. Whatever it printed must have reached stdout: a verb whose
// output was lost (a full disk, a closed pipe) has failed.
int runVerb(const Verb &verb, const QStringList &arguments)
{
    GfxCoreCodec::load();
    int status;
    try {
        status = verb.run(arguments);
    } catch (const std::bad_alloc &) {
        cli::printError(
            QStringLiteral("Not enough memory to run %1").arg(QLatin1String(verb.name)));
        status = cli::Failure;
    }
    GfxCoreCodec::unload();
    if (!cli::flushOut()) {
        cli::printError(QStringLiteral("cannot write to stdout: %1").arg(cli::stdoutError()));
        return cli::Failure;
    }
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    library::restrictSearch();
    cli::setUpStreams();
    QCoreApplication app(argc, argv);
    removeTemporariesOnSignals();
    QCoreApplication::setApplicationName(QStringLiteral("vorland-cli"));
    vorland::setReporter([](const QString &message) { cli::printError(message); });

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (arguments.isEmpty()) {
        cli::printError(QStringLiteral("no verb given"));
        std::fprintf(stderr, "Try 'vorland-cli --help'.\n");
        return cli::UsageError;
    }
    const QString name = arguments.takeFirst();
    const bool version = name == QLatin1String("--version") || name == QLatin1String("-V");
    if (version || name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        cli::printOut(version ? QStringLiteral("vorland-cli " VORLAND_VERSION "\n") : toolHelp());
        if (cli::flushOut())
            return cli::Success;
        cli::printError(QStringLiteral("cannot write to stdout: %1").arg(cli::stdoutError()));
        return cli::Failure;
    }
    for (const Verb &verb : verbs) {
        if (name == QLatin1String(verb.name))
            return runVerb(verb, arguments);
    }
    cli::printError(QStringLiteral("unknown verb '%1'").arg(name));
    std::fprintf(stderr, "Try 'vorland-cli --help'.\n");
    return cli::UsageError;
}
