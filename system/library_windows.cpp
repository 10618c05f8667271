#include "library.h"

#include <QDir>
#include <QFileInfo>

#include <string>

#include <windows.h>

namespace library {

namespace {

// The folder of `module`, with a trailing "\\".
std::wstring folderOf(HMODULE module)
{
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(module, &path[0], DWORD(path.size()));
    path.resize(n < path.size() ? n : 0);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

HMODULE loadFrom(const std::wstring &path)
{
    // A library that GfxCore.dll needs in turn comes from its own folder or
    // the system's.
    return LoadLibraryExW(path.c_str(), nullptr,
                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
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
    const std::wstring given = QDir::toNativeSeparators(name).toStdWString();
    if (!QFileInfo(name).isRelative())
        return loadFrom(given);
    // Beside the module this code is in: the program, or a plug-in in a
    // folder of the program's (imageformats), whose library is one up.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&folderOf), &self);
    const std::wstring folder = folderOf(self);
    if (HMODULE found = loadFrom(folder + given))
        return found;
    if (!self || self == GetModuleHandleW(nullptr))
        return nullptr;
    const std::wstring up = folder.substr(0, folder.find_last_of(L"\\/", folder.size() - 2) + 1);
    return loadFrom(up + given);
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
