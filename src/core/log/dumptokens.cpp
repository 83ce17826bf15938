#include "log/dumptokens.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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
    // half; those cases, and anything large or odd, are left to the exact conversion of the
    // standard library, which rounds as printf does but never takes the locale's decimal comma.
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
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 8);
    if (written.ec != std::errc())
        return std::numeric_limits<int>::max();
    const int length = int(written.ptr - buffer);
    std::memcpy(out, buffer, size_t(std::min(length, capacity)));
    return length;
}

}  // namespace velomark
