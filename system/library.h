#pragma once

#include <QString>

// Loading a shared library of our own at run time, by its full path: a bare
// name is looked for beside the program, never in the working folder.
// One implementation per system: library_posix.cpp, library_windows.cpp.
namespace library {

using Handle = void *;

// Takes the working folder out of the system's search for libraries,
// process-wide; call first thing in main(). Nothing to do where the
// programs' RUNPATH already says where to look.
void restrictSearch();

// The file name of the library `stem`: "GfxCore.dll", "libGfxCore.so".
QString fileName(const QString &stem);

// Loads `name`; a bare file name is taken from beside the program. On
// Windows, from beside the module holding this code, or the folder above a
// plug-in's; elsewhere from the absolute folders that the system's loader
// searches for that module (its RUNPATH names the program's own folder),
// never a relative one. Null when it cannot.
Handle open(const QString &name);
void close(Handle handle);
// The address of `symbol` in `handle`, or null.
void *symbol(Handle handle, const char *symbol);

} // namespace library
