#include "log/dumptokens.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/text.h"

namespace velomark {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool allDecimal(DumpToken token)
{
    for (int i = 0; i < token.size; ++i) {
        if (token.data[i] < '0' || token.data[i] > '9')
            return false;
    }
    return true;
}

quint64 decimalValue(DumpToken token, quint64 value)
{
    for (int i = 0; i < token.size; ++i)
        value = value * 10 + quint64(token.data[i] - '0');
    return value;
}

}  // namespace

bool DumpToken::is(const char *text) const
{
    const size_t length = std::strlen(text);
    return size_t(size) == length && std::memcmp(data, text, length) == 0;
}

bool readHex16(DumpToken token, quint16 *value)
{
    if (token.size >= 1 && token.size <= 4) {
        quint32 result = 0;
        int i = 0;
        for (; i < token.size; ++i) {
            const int digit = hexDigit(token.data[i]);
            if (digit < 0)
                break;
            result = result * 16 + quint32(digit);
        }
        if (i == token.size) {
            *value = quint16(result);
            return true;
        }
    }
    bool ok = false;
    *value = token.text().toUShort(&ok, 16);
    return ok;
}

bool readDecimal16(DumpToken first, DumpToken second, quint16 *value)
{
    if (first.size + second.size >= 1 && first.size + second.size <= 9 && allDecimal(first)
        && allDecimal(second)) {
        const quint64 result = decimalValue(second, decimalValue(first, 0));
        if (result > 0xFFFF)
            return false;
        *value = quint16(result);
        return true;
    }
    bool ok = false;
    *value = StripLeadingZeros(first.text() + second.text()).toUShort(&ok);
    return ok;
}

bool readMinutes(DumpToken whole, DumpToken fractionHigh, DumpToken fractionLow, double *value)
{
    // Digits only, few enough to be exact integers: numerator / 10^k is then the correctly
    // rounded value of the decimal text, the same double the text conversion yields.
    const int fractionDigits = fractionHigh.size + fractionLow.size;
    if (whole.size >= 1 && whole.size + fractionDigits <= 15 && allDecimal(whole)
        && allDecimal(fractionHigh) && allDecimal(fractionLow)) {
        static const double powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const quint64 numerator = decimalValue(fractionLow, decimalValue(fractionHigh, decimalValue(whole, 0)));
        *value = double(numerator) / powers[fractionDigits];
        return true;
    }
    bool ok = false;
    *value = StripLeadingZeros(whole.text() + QLatin1Char('.') + fractionHigh.text() + fractionLow.text())
                 .toDouble(&ok);
    return ok;
}

int formatDegrees(double value, char *out, int capacity)
{
    // With a 64-bit mantissa the product below is off by less than 1e-5 units of the last
    // decimal, so rounding to the nearest unit is exact unless the product lies close to a
    // half; those cases, and anything large or odd, are left to printf itself.
    if (std::numeric_limits<long double>::digits >= 64 && value >= 0 && value < 1e6) {
        const long double scaled = static_cast<long double>(value) * 100000000.0L;
        const long double whole = std::floor(scaled);
        const long double fraction = scaled - whole;
        if (std::fabs(fraction - 0.5L) > 1e-4L) {
            const quint64 units = quint64(whole) + (fraction > 0.5L ? 1 : 0);
            char digits[32];
            int count = 0;
            quint64 integer = units / 100000000u;
            quint64 decimals = units % 100000000u;
            for (int i = 0; i < 8; ++i) {
                digits[count++] = char('0' + decimals % 10);
                decimals /= 10;
            }
            digits[count++] = '.';
            do {
                digits[count++] = char('0' + integer % 10);
                integer /= 10;
            } while (integer > 0);
            for (int i = 0; i < count && i < capacity; ++i)
                out[i] = digits[count - 1 - i];
            return count;
        }
    }
    char buffer[400];
    const int length = std::snprintf(buffer, sizeof buffer, "%.8f", value);
    if (length < 0)
        return std::numeric_limits<int>::max();
    std::memcpy(out, buffer, size_t(std::min(length, capacity)));
    return length;
}

QDateTime LocalTimeReader::read(const QDate &date, const QTime &time)
{
    auto known = m_offsets.constFind(date.toJulianDay());
    if (known == m_offsets.constEnd()) {
        // A day is regular when its start, noon and end exist and share one offset.
        int offset = kIrregular;
        const QTime probes[] = {QTime(0, 0, 0), QTime(12, 0, 0), QTime(23, 59, 59)};
        for (const QTime &probeTime : probes) {
            const QDateTime probe(date, probeTime);
            const bool same = probe.isValid() && probe.time() == probeTime && probe.date() == date
                              && (offset == kIrregular || offset == probe.offsetFromUtc());
            if (!same) {
                offset = kIrregular;
                break;
            }
            offset = probe.offsetFromUtc();
        }
        known = m_offsets.insert(date.toJulianDay(), offset);
    }
    if (*known == kIrregular)
        return QDateTime(date, time);
    return QDateTime(date, time, Qt::OffsetFromUTC, *known);
}

}  // namespace velomark
