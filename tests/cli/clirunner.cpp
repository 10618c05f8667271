#include "clirunner.h"

#include <QProcess>

CliRun runCli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VORLAND_CLI), arguments);
    process.closeWriteChannel();
    CliRun run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
