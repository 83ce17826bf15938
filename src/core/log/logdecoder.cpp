#include "log/logdecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "common/text.h"
#include "common/trace.h"
#include "log/dumptokens.h"

namespace velomark {

namespace {

// A position text holds the hemisphere letter and at most this many characters of the number.
constexpr int kPositionDigits = 14;

struct RecordLayout
{
    const char *typeToken;
    bool gps;
    int rangeBytes;
    int minimumTokens;
};

constexpr RecordLayout kLayouts[] = {
    {"01", false, 2, 14},
    {"03", true, 2, 26},
    {"09", false, 3, 15},
    {"0B", true, 3, 27},
};

bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Why a line was not accepted; the caller traces it.
enum class LineFault { None, Silent, DataValue, GpsValue, GpsMinutes, Checksum };

// Reads the fields of one line in order, skipping one "80" filler before each field from
// index 7 on.
class LineReader
{
public:
    explicit LineReader(const std::vector<DumpToken> &tokens) : m_tokens(tokens) {}

    // The next field after an optional filler; false when the line has no token left for it.
    bool next(DumpToken *token)
    {
        if (m_next < int(m_tokens.size()) && m_tokens[m_next].is("80"))
            ++m_next;
        if (m_next >= int(m_tokens.size()))
            return false;
        *token = m_tokens[m_next++];
        return true;
    }

private:
    const std::vector<DumpToken> &m_tokens;
    int m_next = 7;
};

// The position texts of the line before: a lidar that stands still logs one position many
// times, and a text equal to the last one shares its characters instead of a new copy.
struct PositionTexts
{
    QString latitude;
    QString longitude;
};

// The part of a line's reading that can fail: it records the fault and the token to name.
class LineDecoder
{
public:
    LineDecoder(const std::vector<DumpToken> &tokens, const RecordLayout &layout, PositionTexts &positions)
        : m_tokens(tokens), m_layout(layout), m_reader(tokens), m_positions(positions)
    {}

    LineFault decode(SpeedRecord *record);
    DumpToken faultToken() const { return m_faultToken; }

private:
    bool hexField(DumpToken *token, quint16 *value);
    LineFault readGps(SpeedRecord *record);
    LineFault readTail(SpeedRecord *record);
    void readDateTime(SpeedRecord *record);

    const std::vector<DumpToken> &m_tokens;
    const RecordLayout &m_layout;
    LineReader m_reader;
    PositionTexts &m_positions;
    DumpToken m_faultToken;
    LineFault m_fault = LineFault::None;
    quint8 m_checksum = 0;
};

// Reads the next field as a hexadecimal number and folds it into the checksum.
bool LineDecoder::hexField(DumpToken *token, quint16 *value)
{
    if (!m_reader.next(token)) {
        m_fault = LineFault::Silent;
        return false;
    }
    if (!readHex16(*token, value)) {
        m_fault = LineFault::DataValue;
        m_faultToken = *token;
        return false;
    }
    m_checksum ^= quint8(*value);
    return true;
}

void LineDecoder::readDateTime(SpeedRecord *record)
{
    // month, day, year, hour, minute, second as the lidar writes them
    const DumpToken *t = &m_tokens[1];
    for (int i = 0; i < 6; ++i) {
        quint16 value = 0;
        if (readHex16(t[i], &value))
            m_checksum ^= quint8(value);
    }
    bool twoDigits = true;
    int v[6];
    for (int i = 0; i < 6 && twoDigits; ++i) {
        twoDigits = t[i].size == 2 && t[i].data[0] >= '0' && t[i].data[0] <= '9'
                    && t[i].data[1] >= '0' && t[i].data[1] <= '9';
        if (twoDigits)
            v[i] = (t[i].data[0] - '0') * 10 + (t[i].data[1] - '0');
    }
    if (twoDigits) {
        record->dateTime = lidarDateTime(QDate(2000 + v[2], v[0], v[1]), QTime(v[3], v[4], v[5]));
        return;
    }
    const QString text = QLatin1String("20") + t[2].text() + t[0].text() + t[1].text() + t[3].text()
                         + t[4].text() + t[5].text();
    record->dateTime = lidarDateTimeFromString(text, QStringLiteral("yyyyMMddhhmmss"));
}

// The hemisphere letter and the number with eight decimals; false when the number does not
// fit the text field or is no number at all. `last` is the same field's text of the line
// before; an equal text is shared with it.
bool positionText(char hemisphere, double degrees, QString &last, QString *text)
{
    if (!std::isfinite(degrees))
        return false;
    char buffer[1 + kPositionDigits];
    buffer[0] = hemisphere;
    const int length = formatDegrees(degrees, buffer + 1, kPositionDigits);
    if (length > kPositionDigits)
        return false;
    const QLatin1String written(buffer, length + 1);
    if (last != written)
        last = written;
    *text = last;
    return true;
}

LineFault LineDecoder::readGps(SpeedRecord *record)
{
    DumpToken latDegrees, latMinutes, latFraction1, latFraction2, latHemisphere;
    DumpToken lonDegrees1, lonDegrees2, lonMinutes, lonFraction1, lonFraction2, lonHemisphere;
    DumpToken status;
    quint16 value = 0;
    quint16 latWhole = 0, lonWhole = 0;
    double latMinuteValue = 0, lonMinuteValue = 0;

    // Latitude degrees are converted before their hexadecimal reading.
    if (!m_reader.next(&latDegrees))
        return LineFault::Silent;
    if (!readDecimal16(latDegrees, DumpToken{}, &latWhole))
        return LineFault::GpsValue;
    if (!readHex16(latDegrees, &value)) {
        m_faultToken = latDegrees;
        return LineFault::DataValue;
    }
    m_checksum ^= quint8(value);

    if (!hexField(&latMinutes, &value) || !hexField(&latFraction1, &value)
        || !hexField(&latFraction2, &value) || !hexField(&latHemisphere, &value))
        return m_fault;
    if (!readMinutes(latMinutes, latFraction1, latFraction2, &latMinuteValue))
        return LineFault::GpsMinutes;

    if (!hexField(&lonDegrees1, &value) || !hexField(&lonDegrees2, &value))
        return m_fault;
    if (!readDecimal16(lonDegrees1, lonDegrees2, &lonWhole))
        return LineFault::GpsValue;

    if (!hexField(&lonMinutes, &value) || !hexField(&lonFraction1, &value)
        || !hexField(&lonFraction2, &value))
        return m_fault;
    if (!readMinutes(lonMinutes, lonFraction1, lonFraction2, &lonMinuteValue))
        return LineFault::GpsValue;

    if (!hexField(&lonHemisphere, &value))
        return m_fault;

    // The status token enters the checksum after the position texts are written.
    if (!m_reader.next(&status))
        return LineFault::Silent;
    if (status.is("41")) {
        const double latitude = latWhole + latMinuteValue / 60;
        const double longitude = lonWhole + lonMinuteValue / 60;
        if (!positionText(latHemisphere.is("53") ? 'S' : 'N', latitude, m_positions.latitude, &record->latitude)
            || !positionText(lonHemisphere.is("57") ? 'W' : 'E', longitude, m_positions.longitude,
                             &record->longitude))
            return LineFault::GpsValue;
    }
    if (!readHex16(status, &value)) {
        m_faultToken = status;
        return LineFault::DataValue;
    }
    m_checksum ^= quint8(value);
    return LineFault::None;
}

LineFault LineDecoder::readTail(SpeedRecord *record)
{
    DumpToken token;
    quint16 direction = 0, speedHigh = 0, speedLow = 0, rangeHigh = 0, rangeMiddle = 0, rangeLow = 0;

    if (!hexField(&token, &direction))
        return m_fault;
    record->direction = token.is("41") ? 0 : 1;
    if (!hexField(&token, &speedHigh) || !hexField(&token, &speedLow))
        return m_fault;
    DumpToken rangeHighToken;
    if (!hexField(&rangeHighToken, &rangeHigh))
        return m_fault;
    if (m_layout.rangeBytes == 3 && !hexField(&token, &rangeMiddle))
        return m_fault;
    if (!hexField(&token, &rangeLow))
        return m_fault;

    DumpToken units;
    if (!m_reader.next(&units))
        return LineFault::Silent;
    record->metric = units.is("01");
    m_checksum ^= record->metric ? 1 : 0;

    DumpToken checksumToken;
    quint16 checksum = 0;
    if (!m_reader.next(&checksumToken))
        return LineFault::Silent;
    if (!readHex16(checksumToken, &checksum)) {
        m_faultToken = checksumToken;
        return LineFault::DataValue;
    }
    if (checksum != m_checksum)
        return LineFault::Checksum;

    record->speed = int(speedHigh) * 256 + int(speedLow);
    const qint64 range = m_layout.rangeBytes == 3
                             ? (qint64(rangeHigh) * 256 + rangeMiddle) * 256 + rangeLow
                             : qint64(rangeHigh) * 256 + rangeLow;
    // Range bytes are bytes; oversized tokens must not wrap into a plausible distance.
    if (range > std::numeric_limits<int>::max()) {
        m_faultToken = rangeHighToken;
        return LineFault::DataValue;
    }
    record->range = int(range);
    return LineFault::None;
}

LineFault LineDecoder::decode(SpeedRecord *record)
{
    quint16 type = 0;
    readHex16(m_tokens[0], &type);
    m_checksum = quint8(type);
    readDateTime(record);
    if (m_layout.gps) {
        const LineFault fault = readGps(record);
        if (fault != LineFault::None)
            return fault;
    }
    return readTail(record);
}

const RecordLayout *layoutOf(DumpToken type)
{
    for (const RecordLayout &layout : kLayouts) {
        if (type.is(layout.typeToken))
            return &layout;
    }
    return nullptr;
}

void tokenize(const char *line, int size, std::vector<DumpToken> *tokens)
{
    tokens->clear();
    const char *end = line + size;
    const char *start = line;
    for (;;) {
        const char *blank = static_cast<const char *>(std::memchr(start, ' ', size_t(end - start)));
        if (!blank) {
            tokens->push_back(DumpToken{start, int(end - start)});
            return;
        }
        tokens->push_back(DumpToken{start, int(blank - start)});
        start = blank + 1;
    }
}

void decodeLine(const char *line, int size, std::vector<DumpToken> *tokens, PositionTexts &positions,
                QVector<SpeedRecord> &records)
{
    while (size > 0 && isAsciiSpace(line[0])) {
        ++line;
        --size;
    }
    while (size > 0 && isAsciiSpace(line[size - 1]))
        --size;
    // Other white space than ASCII is rare; the text's own trimming handles it.
    QByteArray trimmed;
    if (size > 0 && (quint8(line[0]) >= 0x80 || quint8(line[size - 1]) >= 0x80)) {
        trimmed = QString::fromUtf8(line, size).trimmed().toUtf8();
        line = trimmed.constData();
        size = trimmed.size();
    }

    VELOMARK_TRACE(lcLog, QString::fromUtf8(line, size));
    if (size == 0)
        return;

    tokenize(line, size, tokens);
    const RecordLayout *layout = layoutOf(tokens->front());
    if (!layout)
        return;
    if (int(tokens->size()) < layout->minimumTokens) {
        VELOMARK_TRACE(lcLog, QStringLiteral("Invalid record data length: %1").arg(tokens->size()));
        return;
    }

    SpeedRecord record;
    LineDecoder decoder(*tokens, *layout, positions);
    switch (decoder.decode(&record)) {
    case LineFault::None:
        record.statusBits = 0;
        records.append(std::move(record));
        break;
    case LineFault::Silent:
        break;
    case LineFault::DataValue:
        VELOMARK_TRACE(lcLog, QStringLiteral("Invalid data value: ") + decoder.faultToken().text());
        break;
    case LineFault::GpsValue:
        VELOMARK_TRACE(lcLog, QStringLiteral("Invalid GPS data value"));
        break;
    case LineFault::GpsMinutes:
        VELOMARK_TRACE(lcLog, QStringLiteral("Invalid GPS data value: ") + tokens->front().text());
        break;
    case LineFault::Checksum:
        VELOMARK_TRACE(lcLog, QStringLiteral("Checksum mis-match"));
        break;
    }
}

}  // namespace

void DecodeLogDump(QByteArray dump, QVector<SpeedRecord> &records)
{
    const char *data = dump.constData();
    const char *nul = static_cast<const char *>(std::memchr(data, '\0', size_t(dump.size())));
    const int size = nul ? int(nul - data) : dump.size();

    // A record line takes at least 27 bytes; reserving for the line count, so bounded, saves
    // moving the records while they are appended.
    int lines = 1;
    for (const char *p = data; (p = static_cast<const char *>(std::memchr(p, '\n', size_t(data + size - p)))); ++p)
        ++lines;
    records.reserve(records.size() + std::min(lines, size / 27 + 1));

    std::vector<DumpToken> tokens;
    tokens.reserve(40);
    PositionTexts positions;
    int start = 0;
    for (;;) {
        const char *feed = static_cast<const char *>(std::memchr(data + start, '\n', size_t(size - start)));
        const int end = feed ? int(feed - data) : size;
        decodeLine(data + start, end - start, &tokens, positions, records);
        if (!feed)
            break;
        start = end + 1;
    }
}

QVector<SpeedRecord> decodeLogDump(const QByteArray &dump)
{
    QVector<SpeedRecord> records;
    DecodeLogDump(dump, records);
    return records;
}

}  // namespace velomark
