#include "common/text.h"

namespace velomark {

QString StripLeadingZeros(QString text)
{
    while (text.size() >= 2 && text.at(0) == QLatin1Char('0') && text.at(1) != QLatin1Char('.'))
        text.remove(0, 1);
    return text;
}

QString hexBytes(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += QLatin1Char(digits[b >> 4]);
        out += QLatin1Char(digits[b & 0x0F]);
        out += QLatin1Char(' ');
    }
    return out;
}

QString csvField(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"'))
        && !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString lastChars(const QString &text, int count)
{
    return text.right(count);
}

}  // namespace velomark
