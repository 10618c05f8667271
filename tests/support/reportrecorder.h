#pragma once

#include "report.h"

#include <QStringList>

// Records every message sent to the reporting hook while it lives, in place
// of whatever reporter was installed, and puts that one back afterwards.
class ReportRecorder
{
public:
    ReportRecorder();
    ~ReportRecorder();
    ReportRecorder(const ReportRecorder &) = delete;
    ReportRecorder &operator=(const ReportRecorder &) = delete;

    QStringList messages;

private:
    vorland::Reporter previous;
};
