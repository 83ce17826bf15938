// fuzz-sources: src/core/lidar/replies.cpp src/core/lidar/identification.cpp src/core/common/text.cpp
// The short replies of the lidar before live acquisition: the identify text, the operation
// mode, the output format and the configuration flags. The bytes read so far decide where a
// reply ends; whatever the lidar sends, the span must lie inside them and stay the same as
// more bytes arrive, and every decoder must answer with one of its documented values.
//
// Input: a byte choosing the reply (low 2 bits) and the read's chunk size (the rest), then
// the bytes the lidar sends.
#include <QByteArray>

#include <cstdint>

#include "lidar/identification.h"
#include "lidar/replies.h"

#include "check.h"

using namespace velomark;

namespace {

// As the exchange reads: the reply's end is looked for after every chunk, and once found it
// stays where it was found however many bytes follow. Without an end the reply is all bytes.
QByteArray readReply(const ReplyEnd &replyEnd, const QByteArray &bytes, int chunk)
{
    for (int read = 0;; read = qMin(read + chunk, bytes.size())) {
        const QByteArray seen = bytes.left(read);
        const ReplySpan span = replyEnd(seen);
        check(span.start >= 0 && span.end <= seen.size());
        if (span.end >= 0) {
            check(span.start <= span.end);
            const ReplySpan later = replyEnd(bytes);
            check(later.start == span.start && later.end == span.end);
            return seen.mid(span.start, span.end - span.start);
        }
        if (read == bytes.size())
            return bytes;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    const int kind = data[0] & 3;  // identify, operation mode, output format, configuration
    const int chunk = (data[0] >> 2) + 1;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), int(size - 1));
    if (kind == 0) {
        const QByteArray reply = readReply(identifyTextEnd(), bytes, chunk);
        const int type = lidarTypeFromReply(reply);
        check(type == 0 || type == 1 || type == 2 || type == 4 || type == 5 || type == kLidarTypeNone);
        const FirmwareVersion firmware = firmwareFromReply(reply);
        usesFramedDiagCommands(firmware.major, firmware.minor);
        return 0;
    }
    static const QByteArray frameStarts[] = {{}, QByteArray::fromHex("020905"), QByteArray::fromHex("02091003"),
                                             QByteArray::fromHex("020958")};
    const QByteArray &frameStart = frameStarts[kind];
    const QByteArray reply = readReply(replyFrameEnd(frameStart), bytes, chunk);
    if (reply.startsWith(frameStart) && reply.size() > frameStart.size())
        check(reply.endsWith('\x03') || reply == bytes);
    if (kind == 1) {
        const int mode = operationModeFromReply(reply);
        check(mode >= 0 && mode <= query::kNoAnswer);
    } else if (kind == 2) {
        for (int type = 0; type <= kLidarTypeNone; ++type) {
            const int format = outputFormatFromReply(reply, type);
            check((format >= -8 && format <= 15) || format == query::kNoAnswer);
        }
    } else {
        const std::optional<quint8> value = configFlagValue(reply);
        check(!value || (reply.size() >= 6 && reply.startsWith(frameStart)));
        // A control command's echo, the first four bytes standing for the command.
        if (bytes.size() >= 4)
            readReply(echoEnd(bytes.left(4)), bytes.mid(4), chunk);
    }
    return 0;
}
