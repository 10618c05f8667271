#pragma once

#include <QByteArray>
#include <QStringList>

// Runs vorland-cli with the given arguments and collects what it printed.
struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CliRun runCli(const QStringList &arguments);
