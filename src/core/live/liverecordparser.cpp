#include "live/liverecordparser.h"

#include <QStringList>

#include <cmath>
#include <limits>

#include "common/text.h"

namespace velomark {

namespace {

constexpr char kFrameStart = 0x02;
constexpr unsigned char kEscape = 0x10;
constexpr unsigned char kLongRangeFrame = 0x16;
constexpr unsigned char kStatusValid = 0x04;
constexpr unsigned char kStatusReceding = 0x10;
constexpr unsigned char kStatusBits = 0x03;

// Reads the field bytes of a binary record: a byte 0x10 is an escape, and the byte after it is
// the field byte whatever its value. Every field byte enters the checksum.
class BinaryFieldReader
{
public:
    BinaryFieldReader(const QByteArray &buffer, int position) : m_buffer(buffer), m_position(position) {}

    std::optional<unsigned char> next()
    {
        if (m_position < m_buffer.size() && static_cast<unsigned char>(m_buffer.at(m_position)) == kEscape)
            ++m_position;
        if (m_position >= m_buffer.size())
            return std::nullopt;
        const auto byte = static_cast<unsigned char>(m_buffer.at(m_position++));
        m_sum ^= byte;
        return byte;
    }

    // The checksum byte itself may be escaped but takes no part in the sum.
    std::optional<unsigned char> checksum()
    {
        const unsigned char sum = m_sum;
        const auto byte = next();
        m_sum = sum;
        return byte;
    }

    void addToSum(unsigned char byte) { m_sum ^= byte; }
    unsigned char sum() const { return m_sum; }

private:
    const QByteArray &m_buffer;
    int m_position;
    unsigned char m_sum = 0;
};

// A degrees-and-minutes position field ("ddmm.mmmm" or "dddmm.mmmm") as the hemisphere letter
// and decimal degrees; empty when the field has another length or the hemisphere is missing.
QString positionText(const QString &field, int degreeDigits, const QString &hemisphere)
{
    if (field.size() != degreeDigits + 7 || hemisphere.isEmpty())
        return QString();
    bool ok = false;
    const unsigned degrees = StripLeadingZeros(field.left(degreeDigits)).toUShort(&ok);
    const unsigned wholeDegrees = ok ? degrees : 0;
    double minutes = StripLeadingZeros(field.mid(degreeDigits)).toDouble(&ok);
    if (!ok || !std::isfinite(minutes))
        minutes = 0;
    // The record keeps at most 15 bytes after the letter, the terminator included.
    const QString number = QString::asprintf("%.8f", wholeDegrees + minutes / 60.0).left(14);
    return hemisphere.left(1) + number;
}

}  // namespace

std::optional<SpeedRecord> parseBinaryLiveRecord(const QByteArray &buffer, const QDateTime &now)
{
    if (buffer.size() < 2 || buffer.at(0) != kFrameStart)
        return std::nullopt;
    // The frame type is never escaped.
    const auto frameType = static_cast<unsigned char>(buffer.at(1));
    BinaryFieldReader reader(buffer, 2);
    reader.addToSum(frameType);

    const auto status = reader.next();
    if (!status || !(*status & kStatusValid))
        return std::nullopt;

    const auto speedHigh = reader.next();
    const auto speedLow = reader.next();
    if (!speedHigh || !speedLow)
        return std::nullopt;
    const int speed = (*speedHigh << 8) | *speedLow;
    if (speed == 0 || speed == SpeedRecord::kMissing)
        return std::nullopt;

    const int rangeBytes = frameType == kLongRangeFrame ? 3 : 2;
    int range = 0;
    for (int i = 0; i < rangeBytes; ++i) {
        const auto byte = reader.next();
        if (!byte)
            return std::nullopt;
        range = (range << 8) | *byte;
    }
    if (range == 0 || range == 0xFFFF)
        return std::nullopt;

    const auto unit = reader.next();
    if (!unit)
        return std::nullopt;
    const unsigned char expected = reader.sum();
    const auto checksum = reader.checksum();
    if (!checksum || *checksum != expected)
        return std::nullopt;

    SpeedRecord record;
    record.dateTime = now;
    record.direction = (*status & kStatusReceding) ? 1 : 0;
    record.statusBits = *status & kStatusBits;
    record.speed = speed;
    record.range = range;
    record.metric = *unit != 0;
    return record;
}

std::optional<SpeedRecord> parseTextLiveRecord(const QByteArray &buffer)
{
    if (!buffer.startsWith('$'))
        return std::nullopt;
    const QStringList fields = QString::fromUtf8(buffer).trimmed().split(QLatin1Char(','));
    if (fields.size() < 13)
        return std::nullopt;

    SpeedRecord record;
    const QString &date = fields.at(2);
    const QString &time = fields.at(3);
    if (!date.isEmpty() && !time.isEmpty()) {
        // The date field is month, day and a two-digit year of this century; the lidar's own
        // clock, never read through the workstation's time zone.
        const QString stamp = date.left(4) + QLatin1String("20") + date.right(2) + time;
        record.dateTime = lidarDateTimeFromString(stamp, QStringLiteral("MMddyyyyhhmmss"));
    }

    if (fields.at(8) == QLatin1String("A")) {
        record.latitude = positionText(fields.at(4), 2, fields.at(5));
        record.longitude = positionText(fields.at(6), 3, fields.at(7));
    }

    if (!fields.at(9).isEmpty())
        record.direction = fields.at(9) == QLatin1String("R") ? 1 : 0;

    if (!fields.at(10).isEmpty()) {
        bool ok = false;
        const unsigned speed = StripLeadingZeros(fields.at(10)).toUShort(&ok);
        record.speed = ok ? static_cast<int>(speed) : 0;
    }

    if (!fields.at(11).isEmpty()) {
        bool ok = false;
        const double tenths = StripLeadingZeros(fields.at(11)).toDouble(&ok) * 10.0;
        // A text that is no number, or a number beyond any range, counts as 0 rather than
        // overflowing the conversion.
        const bool representable = ok && std::isfinite(tenths)
            && std::fabs(tenths) < static_cast<double>(std::numeric_limits<int>::max());
        record.range = representable ? static_cast<int>(std::trunc(tenths)) : 0;
    }

    record.metric = fields.at(12).startsWith(QLatin1Char('1'));
    record.statusBits = 0;
    return record;
}

std::optional<SpeedRecord> parseLiveRecord(const QByteArray &buffer, const QDateTime &now)
{
    if (buffer.isEmpty())
        return std::nullopt;
    if (buffer.at(0) == kFrameStart)
        return parseBinaryLiveRecord(buffer, now);
    if (buffer.at(0) == '$')
        return parseTextLiveRecord(buffer);
    return std::nullopt;
}

}  // namespace velomark
