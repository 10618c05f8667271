#include "reportrecorder.h"

ReportRecorder::ReportRecorder()
{
    previous = vorland::setReporter([this](const QString &message) { messages << message; });
}

ReportRecorder::~ReportRecorder()
{
    vorland::setReporter(previous);
}
