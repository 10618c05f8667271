#include "pathrules.h"

QString systemNameProblem(const QStringList &components)
{
    for (const QString &component : components) {
        const QString problem = windowsNameProblem(component);
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

bool CaseClashes::systemFoldsCase()
{
    return true;
}
