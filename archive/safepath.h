#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

// The components of a stored entry path, when it is safe to write below a
// folder of one's choosing: split at "\" and "/", every component non-empty,
// not "." or "..", free of control characters, and the path neither absolute
// nor starting with a drive letter. Nothing otherwise.
std::optional<QStringList> safeEntryPath(const QByteArray &storedPath);
// Whether safeEntryPath() would accept the `size` bytes at `p`, without
// splitting them.
bool isSafeEntryPath(const char *p, size_t size);

// `text` fit for a terminal: control characters (C0, DEL and the C1 range
// U+0080-U+009F, which terminals may also obey) become escapes such as
// "\x1b", "\n", "\r" and "\t", so a name can neither move the cursor nor
// split a one-line message. Everything else stays as it is.
QString escapedForTerminal(const QString &text);
