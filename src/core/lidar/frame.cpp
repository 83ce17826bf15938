#include "lidar/frame.h"

namespace velomark {

namespace {

void appendEscaped(QByteArray &out, char byte)
{
    if (byte == frame::kStx || byte == frame::kEtx || byte == frame::kEscape)
        out.append(frame::kEscape);
    out.append(byte);
}

}  // namespace

QByteArray buildFrame(quint8 code, const QByteArray &params)
{
    QByteArray out;
    out.reserve(2 * params.size() + 5);
    out.append(frame::kStx);
    // The code itself is never escaped: the lidar reads it right after STX.
    out.append(static_cast<char>(code));
    quint8 checksum = code;
    for (char byte : params) {
        checksum ^= static_cast<quint8>(byte);
        appendEscaped(out, byte);
    }
    appendEscaped(out, static_cast<char>(checksum));
    out.append(frame::kEtx);
    return out;
}

QByteArray remoteModeFrame(bool on)
{
    return buildFrame(on ? frame::kRemoteOn : frame::kRemoteOff);
}

QByteArray identifyFrame()
{
    return buildFrame(frame::kIdentify);
}

QByteArray operationModeQueryFrame()
{
    return buildFrame(frame::kQuery, QByteArray(1, static_cast<char>(frame::kOperationMode)));
}

QByteArray outputFormatQueryFrame()
{
    return buildFrame(frame::kQuery, QByteArray(1, static_cast<char>(frame::kOutputFormat)));
}

QByteArray eraseFrame()
{
    return buildFrame(frame::kErase);
}

QByteArray diagModeFrame(bool enter)
{
    return buildFrame(enter ? frame::kDiagEnter : frame::kDiagLeave);
}

QByteArray dumpStartFrame()
{
    return buildFrame(frame::kDumpStart);
}

QByteArray configReadFrame()
{
    return buildFrame(frame::kQuery, QByteArray(1, static_cast<char>(frame::kConfigFlags)));
}

QByteArray configWriteFrame(quint8 value)
{
    QByteArray params;
    params.append(static_cast<char>(frame::kConfigFlags));
    params.append(static_cast<char>(value));
    return buildFrame(frame::kConfigWrite, params);
}

}  // namespace velomark
