// fuzz-sources: src/core/live/livebuffer.cpp src/core/live/liverecordparser.cpp src/core/common/text.cpp
// The live reader cuts whatever the lidar streams into buffers and the window parses each one.
// Bytes arrive in chunks of any size with pauses between them: every byte must be handed on at
// most once and in order, no cut may pass the pending bytes, and every parsed record must be sane.
//
// Input: a first byte choosing the output format (odd: 1, binary; even: 3, "$" text), then
// chunks, each a header byte (low 7 bits: the chunk's length; high bit: a pause after it)
// followed by its bytes.
#include <QByteArray>
#include <QDateTime>

#include <cstdint>

#include "live/livebuffer.h"
#include "live/liverecordparser.h"

#include "check.h"

using namespace velomark;

namespace {

bool hasNotificationEnd(const QByteArray &buffer)
{
    static const QByteArray frames[] = {QByteArray("\x02\x04\x04\x03", 4), QByteArray("\x02\x05\x05\x03", 4)};
    for (const QByteArray &frame : frames)
        if (buffer.startsWith(frame) || buffer.endsWith(frame))
            return true;
    return false;
}

void checkRecord(const SpeedRecord &record, bool binary)
{
    check(record.direction == 0 || record.direction == 1);
    check(record.statusBits >= 0 && record.statusBits <= 3 && record.latitude.size() <= 15 && record.longitude.size() <= 15);
    if (binary) {
        check(record.speed > 0 && record.speed <= 0xFFFF && record.speed != SpeedRecord::kMissing);
        check(record.range > 0 && record.range <= 0xFFFFFF && record.range != 0xFFFF);
        check(record.latitude.isEmpty() && record.longitude.isEmpty());
    } else {
        check(((record.speed >= 0 && record.speed <= 0xFFFF) || record.speed == SpeedRecord::kMissing) && record.statusBits == 0);
        check(!record.dateTime.isValid() || record.dateTime.timeSpec() == Qt::UTC);
    }
}

// Every buffer handed on stands in the stream after the one before it (*cursor), whole.
void checkHandedOn(const QList<QByteArray> &buffers, int outputFormat, const QByteArray &fed, int consumed, int *cursor)
{
    static const QDateTime now(QDate(2024, 3, 9), QTime(7, 5, 3), Qt::UTC);
    for (const QByteArray &buffer : buffers) {
        check(!buffer.isEmpty() && buffer.size() >= minimumLiveBufferLength(outputFormat));
        check(!hasNotificationEnd(buffer));
        const int at = fed.indexOf(buffer, *cursor);
        check(at >= 0 && at + buffer.size() <= consumed);
        *cursor = at + buffer.size();
        if (const std::optional<SpeedRecord> record = parseLiveRecord(buffer, now))
            checkRecord(*record, buffer.at(0) == 0x02);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int outputFormat = (data[0] & 1) ? 1 : 3;
    LiveBufferCutter cutter(outputFormat);
    QByteArray fed;
    int consumed = 0, cursor = 0;
    size_t at = 1;
    while (at < size) {
        const uint8_t header = data[at++];
        const size_t length = qMin<size_t>(header & 0x7F, size - at);
        const QByteArray chunk(reinterpret_cast<const char *>(data + at), int(length));
        at += length;

        // The cutting rule alone: a record never reaches past the bytes it is given.
        const int record = completeLiveRecordLength(chunk, outputFormat);
        check(record >= 0 && record <= chunk.size());

        fed += chunk;
        if (header & 0x80)
            cutter.cutAll(chunk);
        else
            cutter.take(chunk);
        // Bytes leave the pending ones only by a cut, and a cut takes them from the front.
        const int nowConsumed = fed.size() - cutter.pendingSize();
        check(nowConsumed >= consumed && cutter.pendingSize() >= 0);
        consumed = nowConsumed;
        if (header & 0x80)
            check(!cutter.hasPending());
        else
            check(cutter.pendingSize() < kMaxLiveBufferBytes);
        checkHandedOn(cutter.takeBuffers(), outputFormat, fed, consumed, &cursor);
    }
    cutter.cutAll();
    check(!cutter.hasPending());
    checkHandedOn(cutter.takeBuffers(), outputFormat, fed, fed.size(), &cursor);
    return 0;
}
