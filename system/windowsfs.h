#pragma once

// Helpers shared by the Windows implementations of the file interfaces.
// Included only by *_windows.cpp files.

#include "heldfile.h"

#include <QString>

#include <string>

#include <windows.h>

namespace windowsfs {

// `path` as the wide-character API takes it: absolute, with "\" separators,
// "." and ".." resolved, and the "\\?\" prefix that lifts the 260-character
// limit. Device names ("\\.\pipe\x") are left as they are.
std::wstring longPath(const QString &path);

// The system's message for `error` (GetLastError()), without its line break.
QString message(DWORD error);

// Which file, of what size and age, an open handle stands for.
FileIdentity identityOf(HANDLE handle, DWORD *attributes = nullptr);

// Opens `path` for its attributes only, without following a link at the
// end. INVALID_HANDLE_VALUE when nothing is there.
HANDLE openForAttributes(const std::wstring &path);

} // namespace windowsfs
