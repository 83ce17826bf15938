#pragma once
// Byte helpers of the tests: frames written as hex, and bytes handed to lidar-sim as hex.
#include <QByteArray>
#include <QString>

// "02 0B 0B 03" or "020b0b03": blanks are ignored.
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// Bytes as a lidar-sim option value (--live-record and the like).
inline QString hexArg(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}
