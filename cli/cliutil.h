#pragma once

#include <QCommandLineParser>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

namespace cli {

enum ExitCode
{
    Success = 0,
    Failure = 1,
    UsageError = 2
};

// Writes "vorland-cli: message" to stderr.
void printError(const QString &message);
// Writes text to stdout as it is.
void printOut(const QString &text);

// The parser of one verb. parse() answers an exit status when the command
// line is settled already (--help printed: 0; a usage error printed with the
// usage text: 2), or nothing when the verb should run.
class VerbParser
{
public:
    VerbParser(const QString &verb, const QString &description);

    QCommandLineParser parser;

    void addPositional(const QString &name, const QString &description, const QString &syntax = {});
    std::optional<int> parse(const QStringList &arguments, int minPositional, int maxPositional);
    // Prints "VERB: problem" and the usage text on stderr; returns 2.
    int usageError(const QString &problem);

private:
    QString verb;
};

// A whole input file, mapped into memory where the system allows and read
// otherwise.
class InputFile
{
public:
    bool open(const QString &path);
    const char *data() const { return bytes; }
    size_t size() const { return length; }

private:
    QFile file;
    QByteArray copy;
    const char *bytes = nullptr;
    size_t length = 0;
};

// Writes `n` bytes to `path` whole or not at all. Reports its own failure.
bool writeWholeFile(const QString &path, const char *data, size_t n);

} // namespace cli
