// mount: not on Windows, which has no FUSE.

#include "verbs.h"

#include "cliutil.h"

namespace cli {

int runMount(const QStringList &arguments)
{
    VerbParser verb(QStringLiteral("mount"),
                    QStringLiteral("Mounts ARCHIVE read-only at MOUNTPOINT. Not available on "
                                   "Windows:\nuse extract, or list and cat."));
    verb.addPositional(QStringLiteral("ARCHIVE"), QStringLiteral("BIG archive."));
    verb.addPositional(QStringLiteral("MOUNTPOINT"), QStringLiteral("Folder to mount it at."));
    if (auto done = verb.parse(arguments, 2, 2))
        return *done;
    printError(QStringLiteral("mount is not available on Windows: use extract, or list and cat"));
    return Failure;
}

} // namespace cli
