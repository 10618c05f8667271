#pragma once

#include <QString>

#include <functional>

namespace vorland {

// The one way the libraries tell the user something. The program installs a
// reporter that shows a modal message box, the command-line tool one that
// writes to stderr, and tests one that records. Without a reporter, messages
// go to stderr.
using Reporter = std::function<void(const QString &message)>;

// Installs `reporter` and returns the one it replaces.
Reporter setReporter(Reporter reporter);

// Hands `message` to the installed reporter.
void report(const QString &message);

} // namespace vorland
