#pragma once

// What a system's file names can and cannot say. Pure functions, with
// one table of names, that give the same answers on every system; only
// systemNameProblem() and CaseClashes::systemFoldsCase() answer for the
// system they run on (pathrules_posix.cpp, pathrules_windows.cpp).

#include <QHash>
#include <QString>
#include <QStringList>

// Why Windows would misread `component` as the name of a file or folder:
// a reserved device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with any
// extension, also with superscript digits), a ":" (a drive or an alternate
// data stream), a character its names cannot hold (< > " | ? *), or a
// trailing dot or space (dropped when the file is made). Empty when none.
// A pure function: the same answer on every system.
QString windowsNameProblem(const QString &component);

// Whether Windows takes `component` for a device (CON, NUL, COM1, "nul.txt").
bool isWindowsDeviceName(const QString &component);

// Why this system would write a file with these path components to
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
