#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

// The command line's streams, as each system has them.
// One implementation per system: console_posix.cpp, console_windows.cpp.
namespace cli {

// Sets the standard streams up for the tool: bytes go through as they are
// (no line-end translation on Windows), and text reaches a Windows console
// as UTF-8, the encoding of everything the tool prints.
void setUpStreams();

// Reads standard input to its end, from where it stands, into `bytes`.
// False, with `problem` set, when it cannot (or memory runs out).
bool readStandardInput(QByteArray &bytes, QString &problem);

// `text` as the tool writes it to stdout and stderr: in the locale's
// encoding on POSIX systems, in UTF-8 on Windows (which its console is set to
// show, and which files and pipes keep).
QByteArray outputText(const QString &text);

// Whether `stream` is a terminal (a console window), where progress is drawn.
bool isTerminal(std::FILE *stream);

} // namespace cli
