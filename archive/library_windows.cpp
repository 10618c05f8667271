#include "library.h"

#include <QDir>
#include <QFileInfo>

#include <string>

#include <windows.h>

namespace library {

namespace {

// The folder of the running program, with a trailing "\".
std::wstring programFolder()
{
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
    path.resize(n < path.size() ? n : 0);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

} // namespace

QString fileName(const QString &stem)
{
    return stem + QLatin1String(".dll");
}

void restrictSearch()
{
    // The program's folder and the system's; not the working folder, nor
    // PATH.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    SetDllDirectoryW(L"");
}

Handle open(const QString &name)
{
    std::wstring path = QDir::toNativeSeparators(name).toStdWString();
    if (QFileInfo(name).isRelative())
        path = programFolder() + path;
    // A library that GfxCore.dll needs in turn comes from its own folder or
    // the system's.
    return LoadLibraryExW(path.c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

void close(Handle handle)
{
    FreeLibrary(static_cast<HMODULE>(handle));
}

void *symbol(Handle handle, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

} // namespace library
