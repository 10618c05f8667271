// compress and decompress: whole files to and from Refp streams.

#include "verbs.h"

#include "cliutil.h"
#include "gfxcorecodec.h"

#include <memory>
#include <new>

namespace cli {
namespace {

bool requireCodec()
{
    if (GfxCoreCodec::isLoaded())
        return true;
    printError(QStringLiteral("the Refp codec (GfxCore) is not available"));
    return false;
}

} // namespace

int runCompress(const QStringList &arguments)
{
    VerbParser verb(QStringLiteral("compress"),
                    QStringLiteral("Compresses a file into a Refp stream."));
    verb.addPositional(QStringLiteral("IN"), QStringLiteral("File to compress."));
    verb.addPositional(QStringLiteral("OUT"), QStringLiteral("Refp stream to write."));
    if (auto done = verb.parse(arguments, 2, 2))
        return *done;
    const QStringList paths = verb.parser.positionalArguments();

    InputFile input;
    if (!requireCodec() || !input.open(paths[0]))
        return Failure;
    if (uint64_t(input.size()) > 0xFFFFFFFFull) {
        printError(
            QStringLiteral("%1 is too large for a Refp stream (4 GiB or more)").arg(paths[0]));
        return Failure;
    }
    const size_t capacity = GfxCoreCodec::compressBound(input.size());
    std::unique_ptr<char[]> stream(new (std::nothrow) char[capacity]);
    if (!stream) {
        printError(QStringLiteral("not enough memory to compress %1").arg(paths[0]));
        return Failure;
    }
    const size_t length =
        GfxCoreCodec::compress(input.data(), input.size(), stream.get(), capacity);
    if (length == 0) {
        printError(QStringLiteral("cannot compress %1").arg(paths[0]));
        return Failure;
    }
    return writeWholeFile(paths[1], stream.get(), length) ? Success : Failure;
}

int runDecompress(const QStringList &arguments)
{
    VerbParser verb(QStringLiteral("decompress"),
                    QStringLiteral("Unpacks a Refp stream into the file it holds."));
    verb.addPositional(QStringLiteral("IN"), QStringLiteral("Refp stream to unpack."));
    verb.addPositional(QStringLiteral("OUT"), QStringLiteral("File to write."));
    if (auto done = verb.parse(arguments, 2, 2))
        return *done;
    const QStringList paths = verb.parser.positionalArguments();

    InputFile input;
    if (!requireCodec() || !input.open(paths[0]))
        return Failure;
    if (!GfxCoreCodec::isCompressed(input.data(), input.size())) {
        printError(QStringLiteral("%1 is not a Refp stream").arg(paths[0]));
        return Failure;
    }
    // A header that declares more than the stream can hold answers 0 here and
    // fails to unpack below, so nothing is allocated for it.
    const uint32_t size = GfxCoreCodec::unpackedSize(input.data(), input.size());
    std::unique_ptr<char[]> output(new (std::nothrow) char[size]);
    if (!output) {
        printError(QStringLiteral("not enough memory to unpack %1").arg(paths[0]));
        return Failure;
    }
    if (!GfxCoreCodec::unpack(input.data(), input.size(), output.get(), size)) {
        printError(QStringLiteral("%1 is a damaged Refp stream").arg(paths[0]));
        return Failure;
    }
    return writeWholeFile(paths[1], output.get(), size) ? Success : Failure;
}

} // namespace cli
