#pragma once
// The speed-study report as an A4 PDF: the facts of the report, its figures as a table of
// text, the speed-over-time chart and the speed distribution.
#include <QString>

#include "chart/speedreport.h"
#include "chart/speedseries.h"

namespace velomark {

// Writes the report through QSaveFile, without a display. Returns why it failed; empty when
// it was written.
QString writeReportPdf(const SpeedReport &report, const SpeedSeries &series, const QString &path);

}  // namespace velomark
