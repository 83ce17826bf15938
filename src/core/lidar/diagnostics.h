#pragma once
// The commands that take a lidar's stored log out and clear it: erase, the framed
// diagnostic-mode (DIAG) commands of newer firmware, the configuration flags and key
// sequence of older firmware, and the keys that start a dump.
#include <QByteArray>
#include <QString>
#include <optional>

#include "lidar/exchange.h"

namespace velomark {

class LidarConnection;
class OperatorInterface;

namespace diag {
// Bit 2 of the configuration flags lets an older-firmware lidar hand out its log.
constexpr quint8 kLogRetrievalBit = 0x04;
// Pause before the second and third key of the key sequence and before the restoring read.
constexpr int kKeyPauseMs = 500;
}  // namespace diag

// Erase frame 02 31 31 03 with label "EraseLidarData"; waits 8 s for the echo; messages shown.
bool EraseLidarData(Transport &link, OperatorInterface &op);

// What the Erase action tells the operator when the lidar confirmed the erase.
inline const QString kEraseSucceeded = QStringLiteral("Command to erase lidar data is successful");

enum class EraseOutcome { Declined, NotConnected, NoStorage, Erased, NoResponse };

// The Erase action: asks first (the question after questionPreface, when given, on a line of
// its own), connects the lidar named selectedText, erases its log when it keeps one and tells
// the operator how it went, behind the please-wait window.
EraseOutcome eraseStoredLog(LidarConnection &connection, const QString &selectedText, OperatorInterface &op,
                            const QString &questionPreface = QString());

// Framed DIAG enter (02 28 28 03, "Set to DIAG mode") or leave (02 29 29 03, "Exit DIAG mode").
bool SetDiagMode(Transport &link, bool enter, OperatorInterface &op);
// Start of data retrieval, 02 34 34 03, written only: the dump follows.
bool StartDataRetrieval(Transport &link, OperatorInterface &op);
// "Y": starts the dump of an older-firmware lidar in DIAG mode.
bool SendDumpKey(Transport &link, OperatorInterface &op);

// One configuration read: the raw reply (empty when the write failed or nothing came) and
// the flag value when the reply is a configuration frame.
struct ConfigRead
{
    bool written = false;
    QByteArray reply;
    std::optional<quint8> value;
};
ConfigRead ReadConfigFlags(Transport &link, const QString &writeLabel, const QString &readLabel,
                           OperatorInterface &op);
// Writes the flags (02 0A 58 value checksum 03, escaped) and checks the echo; messages shown.
bool WriteConfigFlags(Transport &link, quint8 value, const QString &label, OperatorInterface &op);

// Discards pending bytes and writes "%", "{", "<" with 500 ms before the second and third key.
// The last key's label lacks its closing quote when leaving, as the lidar's log has always read.
bool SendKeySequence(Transport &link, bool entering, OperatorInterface &op);
// The DIAG status text that answers the key sequence; traced with its time stamp.
QByteArray ReadDiagStatus(Transport &link, int firstWaitMs, const QString &label);

}  // namespace velomark
