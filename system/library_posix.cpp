#include "library.h"

#include <QFile>

#include <dlfcn.h>

namespace library {

QString fileName(const QString &stem)
{
    return QStringLiteral("lib%1.so").arg(stem);
}

void restrictSearch()
{
    // The RUNPATH ($ORIGIN) names the program's own folder.
}

Handle open(const QString &name)
{
    return dlopen(QFile::encodeName(name).constData(), RTLD_NOW | RTLD_LOCAL);
}

void close(Handle handle)
{
    dlclose(handle);
}

void *symbol(Handle handle, const char *name)
{
    return dlsym(handle, name);
}

} // namespace library
