#include "log/loggpx.h"

namespace velomark {

namespace {

// The decimal degrees of a position text ("N49.27418667" -> "49.27418667", "W123.5" ->
// "-123.5"): the text's own digits, a minus for the south and west. Empty unless the letter
// is one of `positive`/`negative` and the rest is digits with at most one point, within
// `maximum` degrees.
QByteArray degreesOf(const QString &text, QChar positive, QChar negative, double maximum)
{
    if (text.size() < 2 || (text.at(0) != positive && text.at(0) != negative))
        return {};
    const QString number = text.mid(1);
    int points = 0;
    for (int i = 0; i < number.size(); ++i) {
        const QChar c = number.at(i);
        if (c == QLatin1Char('.') && i > 0 && i < number.size() - 1)
            ++points;
        else if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return {};
    }
    bool ok = false;
    if (points > 1 || number.toDouble(&ok) > maximum || !ok)
        return {};
    return (text.at(0) == negative ? QByteArray("-") : QByteArray()) + number.toLatin1();
}

// Text for an XML element: markup characters escaped, control characters (not allowed in
// XML 1.0) dropped.
QByteArray xmlText(const QString &text)
{
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 || c == QLatin1Char('\t'))
            kept += c;
    }
    return kept.toHtmlEscaped().toUtf8();
}

}  // namespace

LogGpx logGpx(const QVector<LogRow> &rows)
{
    LogGpx gpx;
    gpx.text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<gpx version=\"1.1\" creator=\"Velomark\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n";
    for (const LogRow &row : rows) {
        const QByteArray lat = degreesOf(row.value(LogLatitude), QLatin1Char('N'), QLatin1Char('S'), 90);
        const QByteArray lon = degreesOf(row.value(LogLongitude), QLatin1Char('E'), QLatin1Char('W'), 180);
        if (lat.isEmpty() || lon.isEmpty()) {
            ++gpx.withoutPosition;
            continue;
        }
        ++gpx.waypoints;
        gpx.text += "  <wpt lat=\"" + lat + "\" lon=\"" + lon + "\">\n";
        const QString date = row.value(LogDate);
        const QString time = row.value(LogTime);
        if (!date.isEmpty() && !time.isEmpty())
            gpx.text += "    <time>" + xmlText(date) + 'T' + xmlText(time) + "</time>\n";
        gpx.text += "    <name>" + xmlText(row.value(LogSpeed)) + "</name>\n";
        gpx.text += "    <desc>" + xmlText(row.value(LogDirection)) + ", " + xmlText(row.value(LogRange)) + "</desc>\n";
        if (!row.value(LogLidarId).isEmpty())
            gpx.text += "    <src>" + xmlText(row.value(LogLidarId)) + "</src>\n";
        gpx.text += "  </wpt>\n";
    }
    gpx.text += "</gpx>\n";
    return gpx;
}

}  // namespace velomark
