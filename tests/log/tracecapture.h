#pragma once
// Collects the texts of the log decoder's trace lines (time stamp removed) while it lives.
#include <QStringList>
#include <QtGlobal>

class TraceCapture
{
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    QStringList lines;  // "hh:mm:ss.zzz " stripped

private:
    QtMessageHandler m_previous;
};
