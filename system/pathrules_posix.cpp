#include "pathrules.h"

// POSIX names are bytes: any components without "/" or NUL are written to
// the name they say, in folders that tell case apart.

QString systemNameProblem(const QStringList &)
{
    return QString();
}

bool CaseClashes::systemFoldsCase()
{
    return false;
}
