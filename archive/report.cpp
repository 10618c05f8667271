#include "report.h"

#include <cstdio>
#include <utility>

namespace vorland {
namespace {

Reporter &installed()
{
    static Reporter reporter;
    return reporter;
}

} // namespace

Reporter setReporter(Reporter reporter)
{
    return std::exchange(installed(), std::move(reporter));
}

void report(const QString &message)
{
    if (installed()) {
        installed()(message);
        return;
    }
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace vorland
