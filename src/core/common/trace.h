#pragma once
// One trace path for the whole core: "hh:mm:ss.zzz text" through a logging category per
// layer, so each layer can be silenced or enabled with QT_LOGGING_RULES.
#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcApp)     // velomark.app
Q_DECLARE_LOGGING_CATEGORY(lcLidar)   // velomark.lidar
Q_DECLARE_LOGGING_CATEGORY(lcLive)    // velomark.live
Q_DECLARE_LOGGING_CATEGORY(lcLog)     // velomark.log
Q_DECLARE_LOGGING_CATEGORY(lcCrypto)  // velomark.crypto
Q_DECLARE_LOGGING_CATEGORY(lcWire)    // velomark.wire: every byte to and from the lidar, in hex

namespace velomark {

// Writes the current time ("hh:mm:ss.zzz"), a blank and the text.
void trace(const QLoggingCategory &category, const QString &text);
// Writes the text as it stands, without a time stamp.
void traceBare(const QLoggingCategory &category, const QString &text);

}  // namespace velomark

// Builds the text only when the category is enabled: hot paths (the decoder's per-line
// trace) pay nothing when their category is off.
#define VELOMARK_TRACE(category, text)                                  \
    do {                                                                \
        if ((category)().isDebugEnabled())                              \
            ::velomark::trace((category)(), (text));                    \
    } while (false)
