#include "gfxcorecodec.h"

#include "gfxcore.h"
#include "report.h"

#include <QFile>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#if defined(_WIN32)
using ModuleHandle = HMODULE;
#else
using ModuleHandle = void *;
#endif

struct Functions
{
    decltype(&GfxCore_HeaderLength) headerLength = nullptr;
    decltype(&GfxCore_UnpackedSize) unpackedSize = nullptr;
    decltype(&GfxCore_StreamUnpackedSize) streamUnpackedSize = nullptr;
    decltype(&GfxCore_Unpack) unpack = nullptr;
    decltype(&GfxCore_UnpackPrefix) unpackPrefix = nullptr;
    decltype(&GfxCore_CompressBound) compressBound = nullptr;
    decltype(&GfxCore_CompressLevel) compress = nullptr;
};

// The one process-wide module handle, null while the library is not loaded,
// and the functions resolved from it.
ModuleHandle module = nullptr;
Functions functions;

QString &configuredName()
{
#if defined(_WIN32)
    static QString name = QStringLiteral("GfxCore.dll");
#elif defined(__APPLE__)
    static QString name = QStringLiteral("libGfxCore.dylib");
#else
    static QString name = QStringLiteral("libGfxCore.so");
#endif
    return name;
}

ModuleHandle openModule(const QString &name)
{
#if defined(_WIN32)
    const std::wstring wide = name.toStdWString();
    LoadLibraryW(wide.c_str());
    return GetModuleHandleW(wide.c_str());
#else
    return dlopen(QFile::encodeName(name).constData(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void closeModule(ModuleHandle handle)
{
#if defined(_WIN32)
    FreeLibrary(handle);
#else
    dlclose(handle);
#endif
}

template <typename F> bool resolve(ModuleHandle handle, const char *symbol, F &target)
{
#if defined(_WIN32)
    target = reinterpret_cast<F>(GetProcAddress(handle, symbol));
#else
    target = reinterpret_cast<F>(dlsym(handle, symbol));
#endif
    return target != nullptr;
}

} // namespace

bool GfxCoreCodec::load()
{
    if (module)
        return true;
    ModuleHandle handle = openModule(configuredName());
    Functions found;
    const bool complete = handle && resolve(handle, "GfxCore_HeaderLength", found.headerLength) &&
                          resolve(handle, "GfxCore_UnpackedSize", found.unpackedSize) &&
                          resolve(handle, "GfxCore_StreamUnpackedSize", found.streamUnpackedSize) &&
                          resolve(handle, "GfxCore_Unpack", found.unpack) &&
                          resolve(handle, "GfxCore_UnpackPrefix", found.unpackPrefix) &&
                          resolve(handle, "GfxCore_CompressBound", found.compressBound) &&
                          resolve(handle, "GfxCore_CompressLevel", found.compress);
    if (!complete) {
        if (handle)
            closeModule(handle);
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
    closeModule(module);
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

size_t GfxCoreCodec::compressBound(size_t length)
{
    return module ? functions.compressBound(length) : 0;
}

size_t GfxCoreCodec::compress(const void *source, size_t length, void *dest, size_t capacity,
                              int level)
{
    return module ? functions.compress(source, length, dest, capacity, level) : 0;
}
