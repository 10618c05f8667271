#include "clirunner.h"

#include <QDeadlineTimer>
#include <QProcess>

CliRun runCli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VORLAND_CLI), arguments);
    process.closeWriteChannel();
    CliRun run;
    // Waiting may return early without the process having ended (seen under
    // Wine, under load): wait again until it has, or two minutes have gone.
    QDeadlineTimer deadline(120000);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        process.waitForFinished(int(qBound<qint64>(1, deadline.remainingTime(), 1000)));
    if (process.state() != QProcess::NotRunning || process.exitStatus() != QProcess::NormalExit) {
        run.err = "<" + process.errorString().toUtf8() + ">";
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
