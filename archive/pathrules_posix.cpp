#include "safepath.h"

// POSIX names are bytes: whatever safeEntryPath lets through is written to
// the name it says, in folders that tell case apart.

QString systemNameProblem(const QStringList &)
{
    return QString();
}

bool CaseClashes::systemFoldsCase()
{
    return false;
}
