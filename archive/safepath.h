#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

// The components of a stored entry path, when it is safe to write below a
// folder of one's choosing: split at "\" and "/", every component non-empty,
// not "." or "..", free of control characters, and the path neither absolute
// nor starting with a drive letter. Nothing otherwise.
std::optional<QStringList> safeEntryPath(const QByteArray &storedPath);
