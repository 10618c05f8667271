#include "atomicfile.h"

bool AtomicFile::write(const char *data, size_t n)
{
    if (!put(data, n, nullptr))
        return false;
    size += n;
    return true;
}

bool AtomicFile::writeAt(const char *data, size_t n, quint64 position)
{
    return put(data, n, &position);
}

bool writeFileAtomically(const QString &path, const char *data, size_t n, QString &problem)
{
    AtomicFile file;
    if (file.open(path) && file.write(data, n) && file.commit())
        return true;
    problem = file.problem();
    return false;
}
