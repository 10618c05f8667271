#pragma once

#include <QByteArray>
#include <QHash>
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

// Why Windows would misread `component` as the name of a file or folder:
// a reserved device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with any
// extension, also with superscript digits), a ":" (a drive or an alternate
// data stream), a character its names cannot hold (< > " | ? *), or a
// trailing dot or space (dropped when the file is made). Empty when none.
// A pure function: the same answer on every system.
QString windowsNameProblem(const QString &component);

// Whether Windows takes `component` for a device (CON, NUL, COM1, "nul.txt").
bool isWindowsDeviceName(const QString &component);

// Why this system would write the entry with these path components to
// another name than they say: on Windows, windowsNameProblem() of a
// component; elsewhere, empty.
QString systemNameProblem(const QStringList &components);

// Paths written in one run, to find two that differ only in case: one file
// on a system whose folders ignore case (Windows), where the second would
// overwrite the first.
class CaseClashes
{
public:
    // `foldsCase` false makes it never find one.
    explicit CaseClashes(bool foldsCase);
    // The path written before that `components` clashes with, or empty; it
    // is remembered when it does not clash.
    QString clash(const QStringList &components);
    // Whether this system's folders ignore case.
    static bool systemFoldsCase();

private:
    bool folds;
    QHash<QString, QString> seen; // folded path to the path as written
};
