#include "common/trace.h"

#include <QDebug>
#include <QTime>

Q_LOGGING_CATEGORY(lcApp, "velomark.app")
Q_LOGGING_CATEGORY(lcLidar, "velomark.lidar")
Q_LOGGING_CATEGORY(lcLive, "velomark.live")
Q_LOGGING_CATEGORY(lcLog, "velomark.log")
Q_LOGGING_CATEGORY(lcCrypto, "velomark.crypto")
// Off unless asked for: it carries every byte of a dump.
Q_LOGGING_CATEGORY(lcWire, "velomark.wire", QtInfoMsg)

namespace velomark {

void trace(const QLoggingCategory &category, const QString &text)
{
    if (!category.isDebugEnabled())
        return;
    QMessageLogger(nullptr, 0, nullptr, category.categoryName()).debug().noquote()
        << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")) + QLatin1Char(' ') + text;
}

void traceBare(const QLoggingCategory &category, const QString &text)
{
    if (!category.isDebugEnabled())
        return;
    QMessageLogger(nullptr, 0, nullptr, category.categoryName()).debug().noquote() << text;
}

}  // namespace velomark
