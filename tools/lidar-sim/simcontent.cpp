#include "simcontent.h"

#include <QStringList>
#include <QVector>

#include "simframes.h"

namespace lidarsim {

quint32 Random::next()
{
    // xorshift32: enough spread for test data, and the same on every platform.
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
}

int Random::between(int low, int high)
{
    return low + int(next() % quint32(high - low + 1));
}

namespace {

// Two decimal digits that the lidar writes as one byte of binary-coded decimal.
QString bcd(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

// Two decimals of minutes; never "80", which would read as a filler.
QString decimals(Random &random)
{
    const int value = random.between(0, 98);
    return bcd(value >= 80 ? value + 1 : value);
}

QString hexToken(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// The decoder takes a token "80" in a field's place for a filler, so no field may carry 0x80.
bool holdsFillerValue(const QVector<int> &bytes)
{
    return bytes.contains(0x80);
}

QString logLine(Random &random, const QDateTime &when)
{
    static const int kTypes[] = {0x01, 0x03, 0x09, 0x0B};
    const int type = kTypes[random.between(0, 3)];
    const bool gps = type == 0x03 || type == 0x0B;
    const bool threeRangeBytes = type == 0x09 || type == 0x0B;
    const bool metric = random.between(0, 1) == 1;
    const QDate date = when.date();
    const QTime time = when.time();

    QStringList tokens;
    int checksum = type;
    tokens << hexToken(type);
    for (int field : {date.month(), date.day(), date.year() % 100, time.hour(), time.minute(), time.second()}) {
        tokens << bcd(field);
        checksum ^= tokens.last().toInt(nullptr, 16);
    }
    if (gps) {
        // Degrees, minutes and decimals of minutes, written as decimal digit pairs.
        const int latDegrees = random.between(25, 60);
        int lonDegrees = random.between(1, 179);
        if (lonDegrees % 100 == 80)
            ++lonDegrees;
        const QStringList position = {
            bcd(latDegrees), bcd(random.between(0, 59)), decimals(random), decimals(random),
            random.between(0, 3) == 0 ? QStringLiteral("53") : QStringLiteral("4E"),
            bcd(lonDegrees / 100), bcd(lonDegrees % 100), bcd(random.between(0, 59)),
            decimals(random), decimals(random),
            random.between(0, 1) == 0 ? QStringLiteral("57") : QStringLiteral("45"),
            random.between(0, 4) == 0 ? QStringLiteral("56") : QStringLiteral("41")};
        for (const QString &token : position) {
            tokens << token;
            checksum ^= token.toInt(nullptr, 16);
        }
    }
    // Direction, speed and range bytes; values that would read as a filler are drawn again.
    QVector<int> tail;
    int range = 0;
    do {
        tail.clear();
        tail << (random.between(0, 1) == 0 ? 0x41 : 0x52);
        const int speed = random.between(20, 180);
        tail << (speed >> 8) << (speed & 0xFF);
        range = random.between(150, 12000);
        if (threeRangeBytes)
            tail << (range >> 16) << ((range >> 8) & 0xFF) << (range & 0xFF);
        else
            tail << (range >> 8) << (range & 0xFF);
        int sum = checksum;
        for (int byte : tail)
            sum ^= byte;
        sum ^= metric ? 1 : 0;
        tail << sum;
    } while (holdsFillerValue(tail));
    const int sum = tail.takeLast();
    for (int byte : tail)
        tokens << hexToken(byte);
    tokens << (metric ? QStringLiteral("01") : QStringLiteral("00"));
    tokens << hexToken(sum);
    return tokens.join(QLatin1Char(' '));
}

}  // namespace

QByteArray demoLog(int count, Random &random, const QDateTime &now)
{
    // Oldest first: the lidar stores in the order it measured. The last quarter is today.
    QVector<QDateTime> times;
    times.reserve(count);
    const int today = qMax(1, count / 4);
    const qint64 midnight = QDateTime(now.date(), QTime(0, 0)).toSecsSinceEpoch();
    const qint64 nowSecs = now.toSecsSinceEpoch();
    for (int i = 0; i < count; ++i) {
        qint64 secs;
        if (i >= count - today)
            secs = midnight + qint64(random.next() % quint32(qMax<qint64>(1, nowSecs - midnight)));
        else
            secs = midnight - qint64(random.next() % quint32(6 * 86400)) - 1;
        times << QDateTime::fromSecsSinceEpoch(secs);
    }
    std::sort(times.begin(), times.end());
    QByteArray text;
    for (const QDateTime &when : times)
        text += logLine(random, when).toLatin1() + "\r\n";
    return text;
}

QByteArray binaryLiveRecord(Random &random)
{
    const bool threeRangeBytes = random.between(0, 3) == 0;
    const quint8 frameType = threeRangeBytes ? 0x16 : 0x15;
    const bool receding = random.between(0, 1) == 1;
    QVector<quint8> fields;
    fields << quint8(0x04 | (receding ? 0x10 : 0x00));
    const int speed = random.between(15, 160);
    fields << quint8(speed >> 8) << quint8(speed & 0xFF);
    const int range = random.between(100, threeRangeBytes ? 90000 : 20000);
    if (threeRangeBytes)
        fields << quint8(range >> 16);
    fields << quint8((range >> 8) & 0xFF) << quint8(range & 0xFF);
    fields << quint8(1);
    quint8 checksum = frameType;
    for (quint8 byte : fields)
        checksum ^= byte;
    fields << checksum;
    QByteArray record(1, kStx);
    record.append(char(frameType));
    for (quint8 byte : fields)
        appendEscaped(record, byte);
    record.append(kEtx);
    return record;
}

QByteArray textLiveRecord(Random &random, bool gps, const QDateTime &now)
{
    QStringList fields;
    fields << QStringLiteral("$VMSPD") << QStringLiteral("SN%1").arg(random.between(10000, 99999))
           << now.toString(QStringLiteral("MMddyy")) << now.toString(QStringLiteral("hhmmss"));
    if (gps) {
        fields << QStringLiteral("%1%2.%3").arg(random.between(25, 60)).arg(random.between(0, 59), 2, 10, QLatin1Char('0'))
                      .arg(random.between(0, 9999), 4, 10, QLatin1Char('0'))
               << QStringLiteral("N")
               << QStringLiteral("%1%2.%3").arg(random.between(1, 179), 3, 10, QLatin1Char('0'))
                      .arg(random.between(0, 59), 2, 10, QLatin1Char('0')).arg(random.between(0, 9999), 4, 10, QLatin1Char('0'))
               << QStringLiteral("W") << QStringLiteral("A");
    } else {
        fields << QString() << QString() << QString() << QString() << QStringLiteral("V");
    }
    fields << (random.between(0, 1) == 1 ? QStringLiteral("R") : QStringLiteral("A"))
           << QStringLiteral("%1").arg(random.between(15, 160), 3, 10, QLatin1Char('0'))
           << QStringLiteral("%1.%2").arg(random.between(10, 999), 4, 10, QLatin1Char('0')).arg(random.between(0, 9))
           << QStringLiteral("1");
    return fields.join(QLatin1Char(',')).toLatin1() + "\r\n";
}

}  // namespace lidarsim
