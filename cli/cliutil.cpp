#include "cliutil.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace cli {

void printError(const QString &message)
{
    std::fprintf(stderr, "vorland-cli: %s\n", message.toLocal8Bit().constData());
}

void printOut(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

VerbParser::VerbParser(const QString &verb, const QString &description) : verb(verb)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
}

void VerbParser::addPositional(const QString &name, const QString &description,
                               const QString &syntax)
{
    parser.addPositionalArgument(name, description, syntax);
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
        printOut(parser.helpText());
        return Success;
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
    std::fprintf(stderr, "%s", parser.helpText().toLocal8Bit().constData());
    return UsageError;
}

bool InputFile::open(const QString &path)
{
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    const qint64 size = file.size();
    if (size == 0 && !file.isSequential())
        return true;
    if (uchar *mapped = file.isSequential() ? nullptr : file.map(0, size)) {
        bytes = reinterpret_cast<const char *>(mapped);
        length = size_t(size);
        return true;
    }
    copy = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        printError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    bytes = copy.constData();
    length = size_t(copy.size());
    return true;
}

bool writeWholeFile(const QString &path, const char *data, size_t n)
{
    QSaveFile out(path);
    bool ok = out.open(QIODevice::WriteOnly);
    for (size_t done = 0; ok && done < n;) {
        const qint64 written = out.write(data + done, qint64(n - done));
        ok = written > 0;
        done += ok ? size_t(written) : 0;
    }
    if (ok && out.commit())
        return true;
    printError(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
    out.cancelWriting();
    return false;
}

} // namespace cli
