#pragma once
// The rows of a file the program wrote or kept: a dump, a saved log CSV or a live data file,
// told apart by their first line, as the log list or the live list would show them.
#include <QByteArray>
#include <QString>
#include <QVector>

#include "log/logrows.h"

namespace velomark {

enum class RowFileKind { Dump, LogCsv, LiveData };

// A log CSV starts with its header, a live data file with its own; anything else is read as a
// dump (which may hold no record at all).
RowFileKind rowFileKind(const QByteArray &bytes);

// The fields of each line of comma-separated text after its first line (the header), quoted
// fields unquoted; a quoted field may hold commas, doubled quotes and line breaks. Lines may
// end in CR LF.
QVector<QStringList> csvLines(const QByteArray &text);

struct FileRows
{
    RowFileKind kind = RowFileKind::Dump;
    QVector<LogRow> rows;
};

// The rows whose records pass the date filter: a dump's as the log list shows them, a log
// CSV's with the speed and range joined to their units again, a live data file's as the live
// list shows them. A live data file does not say in which unit its speeds are, so they are
// given `liveUnit` ("km/h" or "mph"); its dates are read as the live list reads them.
FileRows fileRows(const QByteArray &bytes, const LogDateFilter &filter, const QString &liveUnit);

}  // namespace velomark
