// compress and decompress: whole files to and from Refp streams.

#include "verbs.h"

#include "cliutil.h"
#include "console.h"
#include "gfxcorecodec.h"

#include <cstdio>
#include <memory>
#include <new>
#include <optional>

namespace cli {
namespace {

// The verb's input and output paths, with the input open.
struct Files
{
    QString in, out;
    InputFile input;
    int level = 2;
};

// Parses "VERB IN OUT" and opens IN. Answers an exit status when the verb is
// done already: help shown, a usage error, no codec, or IN unreadable.
std::optional<int> prepare(const QString &name, const QString &description, const QString &inText,
                           const QString &outText, const QStringList &arguments, Files &files,
                           bool withLevel = false)
{
    VerbParser verb(name, description);
    CompressionOptions compression;
    if (withLevel)
        compression.addTo(verb, false);
    verb.addPositional(QStringLiteral("IN"), inText);
    verb.addPositional(QStringLiteral("OUT"), outText);
    if (auto done = verb.parse(arguments, 2, 2))
        return done;
    unsigned threads;
    if (withLevel) {
        if (auto done = compression.read(verb, files.level, threads))
            return done;
    }
    const QStringList paths = verb.parser.positionalArguments();
    files.in = paths[0];
    files.out = paths[1];
    if (!GfxCoreCodec::isLoaded()) {
        printError(QStringLiteral("the Refp codec (GfxCore) is not available"));
        return Failure;
    }
    if (!files.input.open(files.in, true))
        return Failure;
    return std::nullopt;
}

// Writes the result to OUT, or to stdout for "-".
int writeResult(const QString &out, const char *data, size_t n)
{
    if (out == QLatin1String("-"))
        return writeOut(data, n) ? Success : Failure; // a failure is reported on exit
    return writeWholeFile(out, data, n) ? Success : Failure;
}

// On a terminal, one line while a large file is worked on in one piece.
struct Working
{
    Working(const char *what, const QString &name, size_t bytes)
        : shown(bytes >= (16u << 20) && isTerminal(stderr))
    {
        if (shown)
            std::fprintf(stderr, "%s %s (%.0f MiB)...", what, qPrintable(name),
                         double(bytes) / (1 << 20));
    }
    ~Working()
    {
        if (shown)
            std::fprintf(stderr, "\n");
    }
    const bool shown;
};

} // namespace

int runCompress(const QStringList &arguments)
{
    Files files;
    if (auto done =
            prepare(QStringLiteral("compress"),
                    QStringLiteral("Compresses a file into a Refp stream, one stream whatever its\n"
                                   "size (so on one thread). \"-\" is standard input or output.\n"
                                   "A stream larger than its file is written, with a warning."),
                    QStringLiteral("File to compress."), QStringLiteral("Refp stream to write."),
                    arguments, files, true))
        return *done;
    const InputFile &input = files.input;
    const uint64_t size = input.size(); // (a size_t of 32 bits never is)
    if (size > 0xFFFFFFFFull) {
        printError(
            QStringLiteral("%1 is too large for a Refp stream (4 GiB or more)").arg(files.in));
        return Failure;
    }
    const size_t capacity = GfxCoreCodec::compressBound(input.size());
    std::unique_ptr<char[]> stream(new (std::nothrow) char[capacity]);
    if (!stream) {
        printError(QStringLiteral("Not enough memory to compress %1").arg(files.in));
        return Failure;
    }
    size_t length;
    {
        const Working working("compressing", files.in, input.size());
        length =
            GfxCoreCodec::compress(input.data(), input.size(), stream.get(), capacity, files.level);
    }
    if (length == 0) {
        // Size and room are checked above: only the encoder's memory is left.
        printError(QStringLiteral("Not enough memory to compress %1").arg(files.in));
        return Failure;
    }
    if (input.size() > 0 && length >= input.size())
        printError(QStringLiteral("warning: the Refp stream of %1 is not smaller than it (%2 "
                                  "bytes from %3)")
                       .arg(files.in)
                       .arg(length)
                       .arg(input.size()));
    return writeResult(files.out, stream.get(), length);
}

int runDecompress(const QStringList &arguments)
{
    Files files;
    if (auto done = prepare(QStringLiteral("decompress"),
                            QStringLiteral("Unpacks a Refp stream into the file it holds. \"-\"\n"
                                           "is standard input or output."),
                            QStringLiteral("Refp stream to unpack."),
                            QStringLiteral("File to write."), arguments, files))
        return *done;
    const InputFile &input = files.input;
    if (!GfxCoreCodec::isCompressed(input.data(), input.size())) {
        printError(QStringLiteral("%1 is not a Refp stream").arg(files.in));
        return Failure;
    }
    // A header that declares more than the stream can hold answers 0 here and
    // fails to unpack below, so nothing is allocated for it.
    const uint32_t size = GfxCoreCodec::unpackedSize(input.data(), input.size());
    std::unique_ptr<char[]> output(new (std::nothrow) char[size]);
    if (!output) {
        printError(QStringLiteral("Not enough memory to unpack %1").arg(files.in));
        return Failure;
    }
    bool unpacked;
    {
        const Working working("unpacking", files.in, size);
        unpacked = GfxCoreCodec::unpack(input.data(), input.size(), output.get(), size);
    }
    if (!unpacked) {
        printError(QStringLiteral("%1 is a damaged Refp stream").arg(files.in));
        return Failure;
    }
    return writeResult(files.out, output.get(), size);
}

} // namespace cli
