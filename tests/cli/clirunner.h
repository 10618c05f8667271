#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// Runs vorland-cli with the given arguments and collects what it printed.
struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CliRun runCli(const QStringList &arguments);

// QProcess::start(), and whether the process started; a start that failed
// before anything ran is tried again.
bool startProcess(QProcess &process, const QString &program, const QStringList &arguments);
