// mount: not on Windows, which has no FUSE.

#include "verbs.h"

#include "cliutil.h"

namespace cli {

int runMount(const QStringList &arguments)
{
    VerbParser verb(QStringLiteral("mount"),
                    QStringLiteral("Mounts ARCHIVE, or several as one, read-only at MOUNTPOINT. "
                                   "Not\navailable on Windows: use extract, or list and cat."));
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archives."),
                       QStringLiteral("ARCHIVE..."));
    verb.addPositional(QStringLiteral("MOUNTPOINT"), QStringLiteral("Folder to mount them at."));
    if (auto done = verb.parse(arguments, 2, -1))
        return *done;
    printError(QStringLiteral("mount is not available on Windows: use extract, or list and cat"));
    return Failure;
}

} // namespace cli
