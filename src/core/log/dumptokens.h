#pragma once
// Readings of the tokens of a log dump line. The common shapes (two hexadecimal or decimal
// digits) are read directly from the bytes; anything else goes through Qt's own number
// conversions, so the decoder accepts exactly what those accept.
#include <limits>

#include <QByteArray>
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

// Writes `value` as printf's "%.8f" does in the C locale (a decimal point whatever the
// workstation's locale), without the terminating zero, and returns the number of characters;
// at most `capacity` are written, more means the text did not fit.
int formatDegrees(double value, char *out, int capacity);


}  // namespace velomark
