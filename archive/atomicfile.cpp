#include "atomicfile.h"

bool writeFileAtomically(const QString &path, const char *data, size_t n, QString &problem)
{
    AtomicFile file;
    if (file.open(path) && file.write(data, n) && file.commit())
        return true;
    problem = file.problem();
    return false;
}
