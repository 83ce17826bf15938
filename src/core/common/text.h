#pragma once
#include <QByteArray>
#include <QString>

namespace velomark {

// While the text begins with "0", has at least two characters and its second character is
// not ".", drops the first character: 0045 -> 45, 000 -> 0, 00.5 -> 0.5; 0.5 and 7 stay.
QString StripLeadingZeros(QString text);

// Each byte as two upper-case hex digits and a blank ("02 0B 0B 03 ").
QString hexBytes(const QByteArray &bytes);

// A comma-separated field: as it stands, unless it holds a comma, a double quote or a line
// break; then it is wrapped in double quotes with inner double quotes doubled.
QString csvField(const QString &field);

// The last `count` characters of a text (the whole text when shorter).
QString lastChars(const QString &text, int count);

}  // namespace velomark
