#pragma once
// Command frames of the lidar link: STX, command code, parameters, checksum, ETX.
#include <QByteArray>
#include <QtGlobal>

namespace velomark {

namespace frame {
constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEscape = 0x10;

// Command codes.
constexpr quint8 kQuery = 0x09;
constexpr quint8 kConfigWrite = 0x0A;
constexpr quint8 kRemoteOn = 0x0B;
constexpr quint8 kRemoteOff = 0x0C;
constexpr quint8 kIdentify = 0x1E;
constexpr quint8 kDiagEnter = 0x28;
constexpr quint8 kDiagLeave = 0x29;
constexpr quint8 kErase = 0x31;
constexpr quint8 kDumpStart = 0x34;

// Parameters of the query command.
constexpr quint8 kOutputFormat = 0x03;
constexpr quint8 kOperationMode = 0x05;
constexpr quint8 kConfigFlags = 0x58;
}  // namespace frame

// 0x02, code, parameters, checksum (XOR of code and parameters, before escaping), 0x03;
// a parameter or checksum byte 0x02, 0x03 or 0x10 goes after the escape byte 0x10.
QByteArray buildFrame(quint8 code, const QByteArray &params = {});

// The frames the logger sends.
QByteArray remoteModeFrame(bool on);        // 02 0B 0B 03 / 02 0C 0C 03
QByteArray identifyFrame();                 // 02 1E 1E 03
QByteArray operationModeQueryFrame();       // 02 09 05 0C 03
QByteArray outputFormatQueryFrame();        // 02 09 10 03 0A 03
QByteArray eraseFrame();                    // 02 31 31 03
QByteArray diagModeFrame(bool enter);       // 02 28 28 03 / 02 29 29 03
QByteArray dumpStartFrame();                // 02 34 34 03
QByteArray configReadFrame();               // 02 09 58 51 03
QByteArray configWriteFrame(quint8 value);  // 02 0A 58 value (value ^ 0x52) 03, escaped

}  // namespace velomark
