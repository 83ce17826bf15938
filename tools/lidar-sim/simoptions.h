#pragma once
// What a simulated lidar is and does, from its command line and scenario files.
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace lidarsim {

// One misbehaviour of the lidar's answer to a command.
struct FaultRule
{
    enum Kind { Silent, Delay, Chunks, Nulls, LeadingNulls, Embed, WrongEcho, Short, Malformed, Late };
    Kind kind = Silent;
    int first = 0;   // delay:MS, chunks:N, leading-nulls:N, short:N, late:MS
    int second = 0;  // chunks:N:GAPMS
    bool once = false;
    bool used = false;
};

struct SimOptions
{
    QString eventsPath;
    QString socketPath;  // serve a Unix stream socket there instead of a pseudo-terminal

    QByteArray model = "BT:RX:Brasko";
    QByteArray firmware = "9.3";
    QByteArray build;
    bool hasBuild = false;
    QByteArray identifyReply;
    bool hasIdentifyReply = false;

    int operationMode = 1;
    quint8 outputFormatByte = 0x33;
    quint8 configFlags = 0x12;
    bool requireRemote = false;

    QByteArray storedLog;
    int demoLog = 0;
    quint32 seed = 1;
    int dumpBaud = 57600;
    int dumpBurst = 0;
    int dumpPause = 0;
    bool dumpOutlastsDiag = false;

    int liveFormat = 0;  // 0: as the output-format byte says for this model
    int liveInterval = 1000;
    QList<QByteArray> liveRecords;
    bool liveGps = false;
    bool liveNotify = false;
    int liveCount = -1;
    bool liveAutostart = false;
    bool liveAlways = false;

    int diagEnableOnAttempt = 1;
    bool noDisabledReply = false;

    // Keyed by command: "0B", "1E", "09:05", "key", "Y" ...; tried in the order given.
    QMap<QString, QList<FaultRule>> faults;
    int vanishAfter = -1;
    int vanishAfterDumpBytes = -1;
    bool exitWithParent = false;
};

// Applies options to opts; scenario files are read where --scenario stands. On failure returns
// false with a sentence in error.
bool parseOptions(const QStringList &args, SimOptions &opts, QString &error, bool &helpWanted);
QString helpText();

}  // namespace lidarsim
