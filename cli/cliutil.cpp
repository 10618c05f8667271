#include "cliutil.h"
#include "console.h"

#include "atomicfile.h"
#include "memorysize.h"
#include "safepath.h"

#include <QDateTime>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace cli {

void printError(const QString &message)
{
    std::fprintf(stderr, "vorland-cli: %s\n", outputText(escapedForTerminal(message)).constData());
}

int reportChangedFiles(const QStringList &files)
{
    for (const QString &file : files)
        printError(QStringLiteral("warning: %1 changed while it was read").arg(file));
    return files.isEmpty() ? Success : Failure;
}

namespace {
// The reason of the first failed write to stdout; 0 while there was none.
int stdoutErrno = 0;
} // namespace

bool writeOut(const char *data, size_t n)
{
    if (std::fwrite(data, 1, n, stdout) == n)
        return true;
    if (stdoutErrno == 0)
        stdoutErrno = errno ? errno : EIO;
    return false;
}

void printOut(const QString &text)
{
    const QByteArray bytes = outputText(text);
    writeOut(bytes.constData(), size_t(bytes.size()));
}

bool flushOut()
{
    if (std::fflush(stdout) != 0 && stdoutErrno == 0)
        stdoutErrno = errno ? errno : EIO;
    return stdoutErrno == 0 && !std::ferror(stdout);
}

QString stdoutError()
{
    return QString::fromLocal8Bit(std::strerror(stdoutErrno ? stdoutErrno : EIO));
}

VerbParser::VerbParser(const QString &verb, const QString &description)
    : verb(verb), description(description)
{
    addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                 QStringLiteral("Shows this help.")));
}

void VerbParser::addOption(const QCommandLineOption &option)
{
    parser.addOption(option);
    options.append(option);
}

void VerbParser::addOptions(const QList<QCommandLineOption> &list)
{
    for (const QCommandLineOption &option : list)
        addOption(option);
}

void VerbParser::addPositional(const QString &name, const QString &text, const QString &syntax)
{
    parser.addPositionalArgument(name, text, syntax);
    positionals.append({name, text, syntax.isEmpty() ? name : syntax});
}

QString VerbParser::helpText() const
{
    QString usage = QStringLiteral("Usage: vorland-cli ") + verb + QStringLiteral(" [options]");
    for (const Positional &p : positionals)
        usage += QLatin1Char(' ') + p.syntax;
    QList<QPair<QString, QString>> rows;
    for (const QCommandLineOption &option : options) {
        QStringList names;
        for (const QString &name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString left = names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            left += QStringLiteral(" <%1>").arg(option.valueName());
        rows.append({left, option.description()});
    }
    int width = 0;
    for (const Positional &p : positionals)
        width = qMax(width, p.name.size());
    for (const auto &row : rows)
        width = qMax(width, row.first.size());
    auto table = [&](const QList<QPair<QString, QString>> &lines) {
        QString out;
        for (const auto &line : lines) {
            const QString pad(width + 2 - line.first.size(), QLatin1Char(' '));
            out += QStringLiteral("  ") + line.first + pad +
                   QString(line.second)
                       .replace(QLatin1Char('\n'), QLatin1Char('\n') + QString(width + 4, ' ')) +
                   QLatin1Char('\n');
        }
        return out;
    };
    QList<QPair<QString, QString>> arguments;
    for (const Positional &p : positionals)
        arguments.append({p.name, p.description});
    QString text =
        usage + QLatin1Char('\n') + description + QStringLiteral("\n\nOptions:\n") + table(rows);
    if (!arguments.isEmpty())
        text += QStringLiteral("\nArguments:\n") + table(arguments);
    return text;
}

std::optional<int> VerbParser::parse(const QStringList &arguments, int minPositional,
                                     int maxPositional)
{
    // The parser reads the first argument as the program's name.
    QStringList all = arguments;
    all.prepend(QStringLiteral("vorland-cli ") + verb);
    QString problem;
    if (!parser.parse(all)) {
        problem = parser.errorText();
    } else if (parser.isSet(QStringLiteral("help"))) {
        printOut(helpText());
        return Success; // a failed write shows when stdout is flushed
    } else {
        const int count = parser.positionalArguments().size();
        if (count < minPositional)
            problem = QStringLiteral("missing arguments");
        else if (maxPositional >= 0 && count > maxPositional)
            problem = QStringLiteral("too many arguments");
        else
            return std::nullopt;
    }
    return usageError(problem);
}

int VerbParser::usageError(const QString &problem)
{
    printError(verb + QStringLiteral(": ") + problem);
    std::fprintf(stderr, "Try 'vorland-cli %s --help'.\n", outputText(verb).constData());
    return UsageError;
}

void CompressionOptions::addTo(VerbParser &verb, bool withThreads)
{
    verb.addOption(level);
    hasThreads = withThreads;
    if (withThreads)
        verb.addOption(threads);
}

std::optional<int> CompressionOptions::read(VerbParser &verb, int &levelValue,
                                            unsigned &threadCount) const
{
    bool number = false;
    levelValue = verb.parser.value(level).toInt(&number);
    if (!number || levelValue < 1 || levelValue > 3)
        return verb.usageError(QStringLiteral("--level takes 1, 2 or 3"));
    threadCount = 0;
    if (hasThreads && verb.parser.isSet(threads)) {
        const int count = verb.parser.value(threads).toInt(&number);
        if (!number || count < 1 || count > 1024)
            return verb.usageError(QStringLiteral("--threads takes 1 to 1024"));
        threadCount = unsigned(count);
    }
    return std::nullopt;
}

ProgressLine::ProgressLine(bool quiet) : active(!quiet && isTerminal(stderr))
{
}

void ProgressLine::update(size_t done, size_t total, quint64 bytes, quint64 totalBytes)
{
    if (!active)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (done < total && now - last < 100)
        return;
    last = now;
    drawn = true;
    std::fprintf(stderr, "\r%zu/%zu files, %.0f/%.0f MiB ", done, total, double(bytes) / (1 << 20),
                 double(totalBytes) / (1 << 20));
}

void ProgressLine::finish()
{
    if (drawn)
        std::fprintf(stderr, "\n");
    drawn = false;
}

bool InputFile::open(const QString &path, bool dashIsStdin)
{
    // Read rather than mapped: a mapped file that another process cuts short
    // faults on the first page past its new end.
    if (dashIsStdin && path == QLatin1String("-")) {
        // Read to its end from where it stands, whatever it is.
        QString problem;
        if (!readStandardInput(copy, problem)) {
            printError(QStringLiteral("cannot read standard input: %1").arg(problem));
            return false;
        }
        bytes = copy.constData();
        length = size_t(copy.size());
        return true;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    if (file.isSequential()) {
        try {
            copy = file.readAll();
        } catch (const std::bad_alloc &) {
            printError(QStringLiteral("Not enough memory to read %1").arg(path));
            return false;
        }
        bytes = copy.constData();
        length = size_t(copy.size());
    } else {
        const quint64 size = quint64(file.size());
        if (memorysize::fits(size, 1))
            owned.reset(new (std::nothrow) char[size_t(size) + 1]);
        if (!owned) {
            printError(
                QStringLiteral("Not enough memory to read %1 (%2 bytes)").arg(path).arg(size));
            return false;
        }
        quint64 done = 0;
        while (done < size) {
            const qint64 got = file.read(owned.get() + done, qint64(size - done));
            if (got <= 0)
                break;
            done += quint64(got);
        }
        if (done < size && file.error() == QFileDevice::NoError) {
            printError(QStringLiteral("cannot read %1: it shrank while it was read").arg(path));
            return false;
        }
        bytes = owned.get();
        length = size_t(done);
    }
    if (file.error() != QFileDevice::NoError) {
        printError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool writeWholeFile(const QString &path, const char *data, size_t n, bool intoExisting)
{
    AtomicFile file;
    if ((intoExisting ? file.openInPlace(path) : file.open(path)) && file.write(data, n) &&
        file.commit())
        return true;
    printError(file.problem());
    return false;
}

} // namespace cli
