#include "library.h"

#include <QFile>

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <memory>

namespace library {

namespace {

// A handle to the object this code was linked into: the program, or a
// plug-in that a host loaded by its full path.
Handle self()
{
    Dl_info info;
    link_map *map = nullptr;
    if (!dladdr1(reinterpret_cast<void *>(&self), &info, reinterpret_cast<void **>(&map),
                 RTLD_DL_LINKMAP) ||
        !map)
        return nullptr;
    if (!map->l_name || !*map->l_name)
        return dlopen(nullptr, RTLD_NOW);
    return dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD);
}

bool isFile(const QByteArray &path)
{
    struct stat st;
    return stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// `name` in the first folder of the loader's search for `owner` that holds
// it, leaving out every folder that is not absolute: an empty entry of
// LD_LIBRARY_PATH means the working folder, whatever folder that is when the
// library is looked for.
QByteArray findFor(Handle owner, const QByteArray &name)
{
    Dl_serinfo size;
    if (dlinfo(owner, RTLD_DI_SERINFOSIZE, &size) != 0)
        return {};
    std::unique_ptr<char[]> storage(new (std::nothrow) char[size.dls_size]);
    if (!storage)
        return {};
    auto *paths = reinterpret_cast<Dl_serinfo *>(storage.get());
    paths->dls_size = size.dls_size;
    paths->dls_cnt = size.dls_cnt;
    if (dlinfo(owner, RTLD_DI_SERINFO, paths) != 0)
        return {};
    for (unsigned i = 0; i < paths->dls_cnt; ++i) {
        const char *folder = paths->dls_serpath[i].dls_name;
        if (!folder || folder[0] != '/')
            continue;
        QByteArray candidate(folder);
        if (!candidate.endsWith('/'))
            candidate += '/';
        candidate += name;
        if (isFile(candidate))
            return candidate;
    }
    return {};
}

} // namespace

QString fileName(const QString &stem)
{
    return QStringLiteral("lib%1.so").arg(stem);
}

void restrictSearch()
{
    // open() resolves a bare name itself, through the RUNPATH ($ORIGIN).
}

Handle open(const QString &name)
{
    QByteArray path = QFile::encodeName(name);
    if (!path.contains('/')) {
        Handle owner = self();
        if (!owner)
            return nullptr;
        path = findFor(owner, path);
        dlclose(owner);
        if (path.isEmpty())
            return nullptr;
    }
    return dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
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
