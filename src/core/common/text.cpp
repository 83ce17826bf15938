#include "common/text.h"

namespace velomark {

namespace {

void put(QString *text, char c)
{
    text->append(QLatin1Char(c));
}

void put(QByteArray *text, char c)
{
    text->append(c);
}

template <typename Text>
void appendDigitsTo(Text *text, qint64 value, int width)
{
    char digits[24];
    int count = 0;
    quint64 rest = value < 0 ? 0 : quint64(value);
    do {
        digits[count++] = char('0' + rest % 10);
        rest /= 10;
    } while (rest > 0);
    for (int i = count; i < width; ++i)
        put(text, '0');
    while (count > 0)
        put(text, digits[--count]);
}

}  // namespace

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

QDateTime lidarDateTime(const QDate &date, const QTime &time)
{
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

QDateTime lidarDateTimeFromString(const QString &text, const QString &format)
{
    // Read as a UTC time, the text never meets the local time zone: a time the workstation's
    // clock skips stays valid and keeps its hour.
    const QDateTime read = QDateTime::fromString(text + QLatin1Char('Z'), format + QLatin1Char('t'));
    // Letters at the end of the text would make a zone of their own with the "Z" ("143015N"
    // reads as New Zealand time): such a text does not match the format.
    return read.timeSpec() == Qt::UTC ? read : QDateTime();
}

void appendDigits(QString *text, qint64 value, int width)
{
    appendDigitsTo(text, value, width);
}

void appendDigits(QByteArray *text, qint64 value, int width)
{
    appendDigitsTo(text, value, width);
}

QString lastChars(const QString &text, int count)
{
    return text.right(count);
}

QString clockText(const QTime &time)
{
    QString text;
    text.reserve(8);
    appendDigits(&text, time.hour(), 2);
    text += QLatin1Char(':');
    appendDigits(&text, time.minute(), 2);
    text += QLatin1Char(':');
    appendDigits(&text, time.second(), 2);
    return text;
}

QString isoDateText(const QDate &date)
{
    QString text;
    text.reserve(10);
    appendDigits(&text, date.year(), 4);
    text += QLatin1Char('-');
    appendDigits(&text, date.month(), 2);
    text += QLatin1Char('-');
    appendDigits(&text, date.day(), 2);
    return text;
}

}  // namespace velomark
