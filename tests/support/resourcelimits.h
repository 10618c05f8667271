#pragma once

#include <QString>
#include <QStringList>

// Makes `program` with `arguments` run under resource limits given as
// prlimit's options ("--data=N", "--cpu=S", "--fsize=N") where the system
// can set them: the command becomes prlimit's. Answers whether the limits
// apply; on Windows they do not, and the command is left as it is.
bool underLimits(QString &program, QStringList &arguments, const QStringList &limits);
