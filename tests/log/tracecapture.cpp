#include "tracecapture.h"

#include <QLoggingCategory>
#include <QRegularExpression>

namespace {
TraceCapture *g_capture = nullptr;

void capture(QtMsgType, const QMessageLogContext &context, const QString &text)
{
    if (!g_capture || qstrcmp(context.category, "velomark.log") != 0)
        return;
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d "));
    const QRegularExpressionMatch match = stamp.match(text);
    g_capture->lines.append(match.hasMatch() ? text.mid(match.capturedLength()) : QStringLiteral("<no stamp>") + text);
}
}  // namespace

TraceCapture::TraceCapture()
{
    QLoggingCategory::setFilterRules(QStringLiteral("velomark.log.debug=true"));
    g_capture = this;
    m_previous = qInstallMessageHandler(capture);
}

TraceCapture::~TraceCapture()
{
    qInstallMessageHandler(m_previous);
    g_capture = nullptr;
    QLoggingCategory::setFilterRules(QStringLiteral("velomark.log.debug=false"));
}
