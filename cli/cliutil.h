#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>
#include <optional>

namespace cli {

enum ExitCode
{
    Success = 0,
    Failure = 1,
    UsageError = 2
};

// Writes "vorland-cli: message" to stderr, as one line: control characters
// in the message are escaped.
void printError(const QString &message);
// Warns, as GNU tar does, of each file that changed while it was read
// ("warning: NAME changed while it was read"): the exit status, Failure
// when there is any.
int reportChangedFiles(const QStringList &files);
// Writes to stdout as it is. A failure shows in flushOut().
void printOut(const QString &text);
bool writeOut(const char *data, size_t n);
// Flushes stdout; true when everything written to it arrived.
bool flushOut();
// Why a write to stdout failed.
QString stdoutError();

// The parser of one verb, with a help text of its own: "Usage: vorland-cli
// VERB [options] ARGUMENTS", the description, the options and the
// arguments. parse() answers an exit status when the command line is
// settled already (--help printed: 0; a usage error printed with the usage
// text: 2), or nothing when the verb should run.
class VerbParser
{
public:
    VerbParser(const QString &verb, const QString &description);

    QCommandLineParser parser;

    void addOption(const QCommandLineOption &option);
    void addOptions(const QList<QCommandLineOption> &options);
    void addPositional(const QString &name, const QString &description, const QString &syntax = {});
    std::optional<int> parse(const QStringList &arguments, int minPositional, int maxPositional);
    // Prints "VERB: problem" and where help is on stderr; returns 2.
    int usageError(const QString &problem);
    QString helpText() const;

private:
    struct Positional
    {
        QString name, description, syntax;
    };
    QString verb;
    QString description;
    QList<QCommandLineOption> options;
    QList<Positional> positionals;
};

// --level and --threads, as the verbs that compress take them.
struct CompressionOptions
{
    QCommandLineOption level{QStringLiteral("level"),
                             QStringLiteral("Refp level: 1 fast, 2 the default, 3 the smallest "
                                            "(slow)."),
                             QStringLiteral("N"), QStringLiteral("2")};
    QCommandLineOption threads{QStringLiteral("threads"),
                               QStringLiteral("Threads compressing entries (default: one for "
                                              "each core); the archive is the same."),
                               QStringLiteral("N"), QStringLiteral("0")};

    void addTo(VerbParser &verb, bool withThreads);
    bool hasThreads = false;
    // The values given; a usage error's exit status when one is out of range.
    std::optional<int> read(VerbParser &verb, int &levelValue, unsigned &threadCount) const;
};

// Progress on a terminal ("12/200 files, 34/1024 MiB"), redrawn at most ten
// times a second; nothing when stderr is not a terminal or `quiet`.
class ProgressLine
{
public:
    explicit ProgressLine(bool quiet);
    ~ProgressLine() { finish(); }
    bool shown() const { return active; }
    void update(size_t done, size_t total, quint64 bytes, quint64 totalBytes);
    // Ends the line, if one was drawn.
    void finish();

private:
    bool active;
    bool drawn = false;
    qint64 last = 0;
};

// A whole input file, read into memory. One that shrinks while it is read
// is an error.
class InputFile
{
public:
    // With `dashIsStdin`, "-" is standard input.
    bool open(const QString &path, bool dashIsStdin = false);
    const char *data() const { return bytes; }
    size_t size() const { return length; }

private:
    QFile file;
    QByteArray copy;
    std::unique_ptr<char[]> owned;
    const char *bytes = nullptr;
    size_t length = 0;
};

// Writes `n` bytes to `path` whole or not at all, never through a symbolic
// link that stands at `path`. With `intoExisting`, a regular file that exists
// there is written into instead (AtomicFile::openInPlace). Reports its own
// failure.
bool writeWholeFile(const QString &path, const char *data, size_t n, bool intoExisting = false);

} // namespace cli
