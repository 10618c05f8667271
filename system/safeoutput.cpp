#include "safeoutput.h"

#include "atomicfile.h"

bool SafeOutput::start(const QStringList &components, bool overwrite, AtomicFile &file,
                       QString &problem)
{
    existed = false;
    // Files mostly come folder by folder: the folder of the last one is
    // held, and a file in the same folder starts from it, not from the top.
    const QStringList folders = components.mid(0, components.size() - 1);
    const bool again = hasLast && folders == lastFolders;
    OpenFolder dir = again ? lastFolder : root;
    bool own = false; // `dir` is a folder opened on the way down
    // Half-way down, the folder reached is let go; at the file's own
    // folder, it is kept for the next file.
    auto drop = [&] {
        if (own)
            release(dir);
    };
    auto leave = [&] {
        if (!own)
            return;
        if (hasLast)
            release(lastFolder);
        lastFolder = dir;
        hasLast = true;
        lastFolders = folders;
    };
    for (int i = again ? int(folders.size()) : 0; i + 1 < components.size(); ++i) {
        OpenFolder next;
        if (!enter(dir, components.at(i), next, problem)) {
            drop();
            return false;
        }
        drop();
        dir = next;
        own = true;
    }

    const QString &name = components.last();
    bool isFolder = false;
    FileIdentity identity;
    const bool present = look(dir, name, isFolder, identity);
    if (present) {
        QString refusal;
        if (isFolder)
            refusal = QStringLiteral("a folder is in the way");
        else if (guarded && identity.device == guardedFile.device &&
                 identity.inode == guardedFile.inode)
            refusal = guardedReason;
        else if ((existed = !overwrite))
            refusal = QStringLiteral("already exists (--overwrite replaces it)");
        if (!refusal.isEmpty()) {
            problem = refusal;
            leave();
            return false;
        }
    }
    const bool started =
        file.openAt(dir, name, components.join(QLatin1Char('/')), overwrite, !present);
    if (!started)
        problem = file.problem();
    leave();
    return started;
}
