#pragma once
// Bytes of the lidar's framed protocol as the device side sees them: building reply frames and
// cutting the byte stream from the logger into frames and single key bytes.
#include <QByteArray>
#include <QString>

namespace lidarsim {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEscape = 0x10;

// True for the bytes that travel after an escape byte inside a frame.
bool needsEscape(quint8 byte);
// Appends byte, preceded by the escape byte when it needs one.
void appendEscaped(QByteArray &out, quint8 byte);
// 02, code, escaped parameters, escaped checksum (XOR of code and parameters), 03.
QByteArray buildFrame(quint8 code, const QByteArray &params);
// "02 0B 0B 03": two upper-case digits per byte, separated by blanks.
QString hexText(const QByteArray &bytes);
// Reads hex bytes written with or without blanks, colons or "0x"; false on anything else.
bool parseHex(const QString &text, QByteArray &out);

// One unit of what the logger sent: a complete frame or a single byte outside any frame.
struct Received
{
    enum Kind { Frame, Key };
    Kind kind = Key;
    QByteArray raw;      // the bytes as they came, escapes included
    QByteArray content;  // frames: code, parameters and checksum with escapes removed
    char key = 0;
};

// Cuts a byte stream into frames and key bytes; frames may arrive split over many reads.
class FrameSplitter
{
public:
    // Feeds one byte; returns true and fills out when a frame or key byte is complete.
    bool feed(char byte, Received &out);

private:
    enum State { Outside, Inside, InsideEscaped };
    State state_ = Outside;
    QByteArray raw_;
    QByteArray content_;
};

}  // namespace lidarsim
