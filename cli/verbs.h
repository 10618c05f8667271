#pragma once

#include <QStringList>

// One function per verb of vorland-cli. Each takes the arguments after the
// verb's name and returns the process's exit status.
namespace cli {

int runCompress(const QStringList &arguments);
int runDecompress(const QStringList &arguments);
int runInfo(const QStringList &arguments);
int runList(const QStringList &arguments);
int runCat(const QStringList &arguments);
int runExtract(const QStringList &arguments);
int runPack(const QStringList &arguments);
int runRender(const QStringList &arguments);
int runConvert(const QStringList &arguments);
int runThumbnail(const QStringList &arguments);
int runMount(const QStringList &arguments);
int runAdd(const QStringList &arguments);
int runRemove(const QStringList &arguments);
int runRename(const QStringList &arguments);
int runTest(const QStringList &arguments);
int runFind(const QStringList &arguments);
int runDiff(const QStringList &arguments);

} // namespace cli
