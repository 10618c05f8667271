#include "resourcelimits.h"

bool underLimits(QString &program, QStringList &arguments, const QStringList &limits)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(program)
    Q_UNUSED(arguments)
    Q_UNUSED(limits)
    return false;
#else
    arguments = limits + QStringList{program} + arguments;
    program = QStringLiteral("prlimit");
    return true;
#endif
}
