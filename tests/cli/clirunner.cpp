#include "clirunner.h"

#include <QDeadlineTimer>

bool startProcess(QProcess &process, const QString &program, const QStringList &arguments)
{
    // Under Wine, under load, one start in a few thousand fails with
    // "Internal error" before anything runs: start it again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        process.start(program, arguments);
        if (process.waitForStarted(60000))
            return true;
        if (process.error() != QProcess::FailedToStart)
            return false;
    }
    return false;
}

CliRun runCli(const QStringList &arguments)
{
    QProcess process;
    CliRun run;
    if (!startProcess(process, QStringLiteral(VORLAND_CLI), arguments)) {
        run.err = "<" + process.errorString().toUtf8() + ">";
        return run;
    }
    process.closeWriteChannel();
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
