#include "simframes.h"

#include <QRegularExpression>

namespace lidarsim {

bool needsEscape(quint8 byte)
{
    return byte == 0x02 || byte == 0x03 || byte == 0x10;
}

void appendEscaped(QByteArray &out, quint8 byte)
{
    if (needsEscape(byte))
        out.append(kEscape);
    out.append(char(byte));
}

QByteArray buildFrame(quint8 code, const QByteArray &params)
{
    QByteArray frame(1, kStx);
    frame.append(char(code));
    quint8 checksum = code;
    for (char c : params) {
        appendEscaped(frame, quint8(c));
        checksum ^= quint8(c);
    }
    appendEscaped(frame, checksum);
    frame.append(kEtx);
    return frame;
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

bool parseHex(const QString &text, QByteArray &out)
{
    QString digits = text;
    digits.replace(QRegularExpression(QStringLiteral("0[xX]([0-9a-fA-F])")), QStringLiteral("\\1"));
    digits.remove(QRegularExpression(QStringLiteral("[\\s:,]")));
    if (digits.isEmpty() || digits.size() % 2 != 0
        || digits.contains(QRegularExpression(QStringLiteral("[^0-9a-fA-F]"))))
        return false;
    out = QByteArray::fromHex(digits.toLatin1());
    return true;
}

bool FrameSplitter::feed(char byte, Received &out)
{
    switch (state_) {
    case Outside:
        if (byte == kStx) {
            state_ = Inside;
            raw_ = QByteArray(1, byte);
            content_.clear();
            return false;
        }
        out = Received();
        out.kind = Received::Key;
        out.raw = QByteArray(1, byte);
        out.key = byte;
        return true;
    case Inside:
        raw_.append(byte);
        if (byte == kEscape) {
            state_ = InsideEscaped;
            return false;
        }
        // An unescaped STX inside a frame means the earlier frame was cut off; start anew.
        if (byte == kStx) {
            raw_ = QByteArray(1, byte);
            content_.clear();
            return false;
        }
        if (byte == kEtx) {
            state_ = Outside;
            out = Received();
            out.kind = Received::Frame;
            out.raw = raw_;
            out.content = content_;
            return true;
        }
        content_.append(byte);
        return false;
    case InsideEscaped:
        raw_.append(byte);
        content_.append(byte);
        state_ = Inside;
        return false;
    }
    return false;
}

}  // namespace lidarsim
