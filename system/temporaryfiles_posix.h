#pragma once

// The temporary files of AtomicFile on POSIX systems: their names, the
// table by which a signal handler removes them, and the clean-up of those
// that a killed process left. For the POSIX AtomicFile alone.

#include <QByteArray>

namespace temporaryfiles {

// A new name for a file of this process beside a target: ending "part" for
// a file being written, which the clean-up removes once its process is
// gone; any other ending for one that must be kept (a file set aside).
QByteArray newName(const char *ending);
// Registers `name` in `folder` to be removed if the process is stopped by a
// signal; the slot to unregister it by, -1 when the table is full (the
// file is then still removed on failure, though not on a signal).
int add(int folder, const QByteArray &name);
void remove(int slot);
// Removes the files named like newName("part") in `folder` whose process is
// gone and that belong to this user. Once per folder and process.
void removeLeftOvers(int folder);

} // namespace temporaryfiles
