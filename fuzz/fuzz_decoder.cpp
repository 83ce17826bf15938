// fuzz-sources: src/core/log/logdecoder.cpp src/core/log/dumptokens.cpp src/core/log/logrows.cpp src/core/common/text.cpp src/core/common/trace.cpp
// The log decoder takes whatever the serial link or a file on disk hands it: any bytes must
// decode without a fault, and every record it accepts must make a well-formed row and CSV line.
#include <QLoggingCategory>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "common/trace.h"
#include "log/dumptokens.h"
#include "log/logdecoder.h"
#include "log/logrows.h"

#include "check.h"

using namespace velomark;

namespace {

void discard(QtMsgType, const QMessageLogContext &, const QString &) {}

bool wellFormedPosition(const QString &text, char first, char second)
{
    return text.isEmpty() || (text.size() <= 15 && (text.at(0) == QLatin1Char(first) || text.at(0) == QLatin1Char(second)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    [[maybe_unused]] static const QtMessageHandler previous = qInstallMessageHandler(discard);

    const QByteArray dump(reinterpret_cast<const char *>(data), int(size));
    // The trace path builds texts of its own; exercise it for half of the inputs.
    const_cast<QLoggingCategory &>(lcLog()).setEnabled(QtDebugMsg, size > 0 && (data[0] & 1));

    QVector<SpeedRecord> records;
    DecodeLogDump(dump, records);
    for (const SpeedRecord &record : records) {
        check(wellFormedPosition(record.latitude, 'N', 'S') && wellFormedPosition(record.longitude, 'E', 'W'));
        check(record.latitude.isEmpty() == record.longitude.isEmpty());
        check(record.direction == 0 || record.direction == 1);
        check(record.speed >= 0 && record.speed <= 0xFFFF * 256 + 0xFFFF && record.range >= 0 && record.statusBits == 0);
    }

    const QVector<LogRow> rows = logRows(records, LogDateFilter::all(), QStringLiteral("12345"));
    check(rows.size() == records.size());
    const QByteArray csv = logCsvText(rows);
    check(csv.count('\n') == rows.size() + 1);
    for (const LogRow &row : rows)
        check(row.size() == LogColumnCount && logCsvLine(row).count(QLatin1Char(',')) == 9);

    // The direct token readings must agree with Qt's own conversions on every token the
    // decoder can see (the dump ends at its first NUL byte): a hexadecimal or decimal token, and
    // minutes read from three tokens in a row bit for bit. Positions made from them print as
    // printf's "%.8f" in the C locale prints them, also next to and on exact halves.
    const int nul = dump.indexOf('\0');
    QList<QByteArray> tokens;
    for (const QByteArray &line : (nul < 0 ? dump : dump.left(nul)).split('\n'))
        tokens += line.split(' ');
    for (int i = 0; i < tokens.size() && i < 64; ++i) {
        const QByteArray &token = tokens[i];
        const DumpToken view{token.constData(), token.size()};
        quint16 value = 0;
        bool ok = false;
        const quint16 hex = QString::fromUtf8(token).toUShort(&ok, 16);
        check(readHex16(view, &value) == ok && (!ok || value == hex));
        const quint16 decimal = StripLeadingZeros(QString::fromUtf8(token)).toUShort(&ok);
        check(readDecimal16(view, DumpToken{}, &value) == ok && (!ok || value == decimal));
        if (i < 2)
            continue;
        const QByteArray &whole = tokens[i - 2], &high = tokens[i - 1];
        double minutes = 0;
        const bool read = readMinutes({whole.constData(), whole.size()}, {high.constData(), high.size()}, view, &minutes);
        const double expected = StripLeadingZeros(QString::fromUtf8(whole + '.' + high + token)).toDouble(&ok);
        check(read == ok && (!ok || std::memcmp(&minutes, &expected, sizeof minutes) == 0));
        // The decoder hands on only tokens of hex digits, never a sign: printf's "-0.00000000"
        // is no position it writes.
        if (!ok || std::signbit(minutes))
            continue;
        for (const double degrees : {minutes, decimal + minutes / 60}) {
            char printed[400], text[14];
            const int length = std::snprintf(printed, sizeof printed, "%.8f", degrees);
            check(!std::isfinite(degrees) || (formatDegrees(degrees, text, int(sizeof text)) == length
                  && (length > int(sizeof text) || std::memcmp(text, printed, size_t(length)) == 0)));
        }
    }
    return 0;
}
