#pragma once
// Readings of the tokens of a log dump line. The common shapes (two hexadecimal or decimal
// digits) are read directly from the bytes; anything else goes through Qt's own number
// conversions, so the decoder accepts exactly what those accept.
#include <limits>

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

namespace velomark {

// A token of a dump line: a view into the line's bytes.
struct DumpToken
{
    const char *data = nullptr;
    int size = 0;

    bool is(const char *text) const;  // exact, case-sensitive
    QString text() const { return QString::fromUtf8(data, size); }
};

// The token as an unsigned 16-bit hexadecimal number.
bool readHex16(DumpToken token, quint16 *value);

// The concatenated tokens, passed through StripLeadingZeros, as an unsigned 16-bit decimal number.
bool readDecimal16(DumpToken first, DumpToken second, quint16 *value);

// The decimal number "whole.fractionHigh fractionLow" of the concatenated tokens, passed
// through StripLeadingZeros, as a double.
bool readMinutes(DumpToken whole, DumpToken fractionHigh, DumpToken fractionLow, double *value);

// Writes `value` as printf's "%.8f" does, without the terminating zero, and returns the
// number of characters; at most `capacity` are written, more means the text did not fit.
int formatDegrees(double value, char *out, int capacity);

// Reads local date-times as the lidar logged them. Building a local QDateTime consults the
// time-zone files each time; here that happens a few times per calendar day: a day without a
// change of UTC offset gets its offset once, and its times carry it as a fixed offset
// (Qt::OffsetFromUTC, or Qt::UTC where it is zero): the same instant and the same date and
// time of day as Qt::LocalTime would give. Days with a change keep Qt::LocalTime.
class LocalTimeReader
{
public:
    QDateTime read(const QDate &date, const QTime &time);

private:
    static constexpr int kIrregular = std::numeric_limits<int>::min();
    QHash<qint64, int> m_offsets;  // julian day -> UTC offset in seconds, or kIrregular
};

}  // namespace velomark
