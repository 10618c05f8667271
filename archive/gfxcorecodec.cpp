#include "gfxcorecodec.h"

#include "gfxcore.h"
#include "library.h"
#include "report.h"

namespace {

using ModuleHandle = library::Handle;

struct Functions
{
    decltype(&GfxCore_HeaderLength) headerLength = nullptr;
    decltype(&GfxCore_UnpackedSize) unpackedSize = nullptr;
    decltype(&GfxCore_StreamUnpackedSize) streamUnpackedSize = nullptr;
    decltype(&GfxCore_Unpack) unpack = nullptr;
    decltype(&GfxCore_UnpackPrefix) unpackPrefix = nullptr;
    decltype(&GfxCore_UnpackPieces) unpackPieces = nullptr;
    decltype(&GfxCore_CompressBound) compressBound = nullptr;
    decltype(&GfxCore_CompressLevel) compress = nullptr;
    decltype(&GfxCore_CompressPart) compressPart = nullptr;
};

// The one process-wide module handle, null while the library is not loaded,
// and the functions resolved from it.
ModuleHandle module = nullptr;
Functions functions;

QString &configuredName()
{
    static QString name = library::fileName(QStringLiteral("GfxCore"));
    return name;
}

template <typename F> bool resolve(ModuleHandle handle, const char *symbol, F &target)
{
    target = reinterpret_cast<F>(library::symbol(handle, symbol));
    return target != nullptr;
}

} // namespace

bool GfxCoreCodec::load()
{
    if (module)
        return true;
    ModuleHandle handle = library::open(configuredName());
    Functions found;
    const bool complete = handle && resolve(handle, "GfxCore_HeaderLength", found.headerLength) &&
                          resolve(handle, "GfxCore_UnpackedSize", found.unpackedSize) &&
                          resolve(handle, "GfxCore_StreamUnpackedSize", found.streamUnpackedSize) &&
                          resolve(handle, "GfxCore_Unpack", found.unpack) &&
                          resolve(handle, "GfxCore_UnpackPrefix", found.unpackPrefix) &&
                          resolve(handle, "GfxCore_UnpackPieces", found.unpackPieces) &&
                          resolve(handle, "GfxCore_CompressBound", found.compressBound) &&
                          resolve(handle, "GfxCore_CompressLevel", found.compress) &&
                          resolve(handle, "GfxCore_CompressPart", found.compressPart);
    if (!complete) {
        if (handle)
            library::close(handle);
        vorland::report(QStringLiteral("Initialisation error: GfxCore.dll"));
        return false;
    }
    module = handle;
    functions = found;
    return true;
}

void GfxCoreCodec::unload()
{
    if (!module)
        return;
    library::close(module);
    module = nullptr;
    functions = Functions();
}

bool GfxCoreCodec::isLoaded()
{
    return module != nullptr;
}

QString GfxCoreCodec::libraryName()
{
    return configuredName();
}

void GfxCoreCodec::setLibraryName(const QString &name)
{
    configuredName() = name;
}

uint32_t GfxCoreCodec::unpackedSize(const void *block, size_t storedLength)
{
    return module ? functions.unpackedSize(block, storedLength) : 0;
}

uint32_t GfxCoreCodec::streamUnpackedSize(const void *head, size_t headLength, quint64 streamLength)
{
    return module ? functions.streamUnpackedSize(head, headLength, streamLength) : 0;
}

bool GfxCoreCodec::isCompressed(const void *block, size_t storedLength)
{
    return module && functions.headerLength(block, storedLength) != 0;
}

bool GfxCoreCodec::unpack(const void *block, size_t storedLength, void *dest, size_t capacity)
{
    return module && functions.unpack(block, storedLength, dest, capacity) >= 0;
}

int64_t GfxCoreCodec::unpackPrefix(const void *block, size_t storedLength, void *dest, size_t want)
{
    return module ? functions.unpackPrefix(block, storedLength, dest, want) : -1;
}

GfxCoreCodec::Pieces
GfxCoreCodec::unpackPieces(const void *block, size_t storedLength, quint64 want,
                           const std::function<bool(const char *, size_t)> &take)
{
    if (!module)
        return Pieces::Damaged;
    const auto sink = [](void *context, const void *piece, size_t length) -> int {
        const auto &receiver =
            *static_cast<const std::function<bool(const char *, size_t)> *>(context);
        return receiver(static_cast<const char *>(piece), length) ? 1 : 0;
    };
    void *context = const_cast<std::function<bool(const char *, size_t)> *>(&take);
    switch (functions.unpackPieces(block, storedLength, want, sink, context)) {
    case -2: return Pieces::Stopped;
    case -3: return Pieces::NoMemory;
    case -1: return Pieces::Damaged;
    default: return Pieces::Done;
    }
}

size_t GfxCoreCodec::compressBound(size_t length)
{
    return module ? functions.compressBound(length) : 0;
}

size_t GfxCoreCodec::compress(const void *source, size_t length, void *dest, size_t capacity,
                              int level)
{
    return module ? functions.compress(source, length, dest, capacity, level) : 0;
}

size_t GfxCoreCodec::compressPart(const void *source, size_t history, size_t length, quint64 offset,
                                  quint64 streamLength, void *dest, size_t capacity, int level)
{
    return module ? functions.compressPart(source, history, length, offset, streamLength, dest,
                                           capacity, level)
                  : 0;
}
