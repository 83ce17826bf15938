#include "simoptions.h"

#include <QFile>
#include <QRegularExpression>

#include "simframes.h"

namespace lidarsim {

namespace {

struct OptionInfo
{
    const char *name;
    const char *argument;  // nullptr for flags
    const char *help;
};

const OptionInfo kOptions[] = {
    {"--help", nullptr, "show this text and exit"},
    {"--events", "FILE", "append one line per event: '<ms> RX|TX <hex>', '<ms> STATE <text>', '<ms> NOTE <text>'"},
    {"--socket", "PATH", "serve a Unix stream socket at PATH instead of a pseudo-terminal (the path is"
                         " printed); one client at a time, as a lidar's Bluetooth link"},
    {"--scenario", "FILE", "read more options from FILE, one per line ('--x y'); blank lines and # comments ignored"},
    {"--model", "TEXT", "model marker of the identify reply (default BT:RX:Brasko)"},
    {"--firmware", "TEXT", "firmware version text (default 9.3); 9.3 or later uses the framed DIAG and dump commands"},
    {"--build", "TEXT", "append \"\\n\\rBuild - TEXT\" to the identify reply"},
    {"--identify-reply", "HEX", "raw identify reply replacing the built one"},
    {"--operation-mode", "N", "operation mode 0..15 answered as value byte N<<4 (default 1)"},
    {"--output-format-byte", "HEX", "value byte of the output-format reply (default 33)"},
    {"--config-flags", "HEX", "configuration flags (default 12)"},
    {"--require-remote", nullptr, "ignore every command but remote on while remote mode is off"},
    {"--stored-log", "FILE", "dump text the lidar holds, bytes as they stand"},
    {"--demo-log", "N", "add N generated log records (last days, some today) to the stored log"},
    {"--seed", "N", "seed of the generated log and live records (default 1)"},
    {"--dump-baud", "N", "pace the dump at N/10 bytes per second (default 57600)"},
    {"--dump-burst", "BYTES", "send the dump in bursts of BYTES ..."},
    {"--dump-pause", "MS", "... separated by pauses of MS"},
    {"--dump-outlasts-diag", nullptr, "leaving DIAG mode does not end a running dump: the log goes on arriving"},
    {"--live-format", "1|3", "live records: 1 binary, 3 '$' text (default: the format the output-format byte gives)"},
    {"--live-interval", "MS", "time between live records (default 1000)"},
    {"--live-record", "HEX", "raw bytes of a live record; repeatable, sent in turn, cycling"},
    {"--live-gps", nullptr, "generated text records carry a valid GPS position"},
    {"--live-notify", nullptr, "wrap each live record in the frames 02 04 04 03 and 02 05 05 03"},
    {"--live-count", "N", "stop live output after N records"},
    {"--live-autostart", nullptr, "stream live records from remote on, without waiting for the format query"},
    {"--live-always", nullptr, "continuous mode: stream live records from the start, in and out of remote mode"
                               " (DIAG mode pauses them)"},
    {"--diag-enable-on-attempt", "N", "the key sequence enables DIAG only on entering attempt N (default 1)"},
    {"--no-disabled-reply", nullptr, "leaving DIAG by key sequence answers without \"Disabled\""},
    {"--fault", "CODE=KIND", "misbehave on command CODE (0B 0C 1E 31 28 29 34 0A 09:05 09:03 09:58 key Y);"
                             " KIND: silent, delay:MS, chunks:N:GAPMS, nulls, leading-nulls:N, embed,"
                             " wrong-echo, short:N, malformed, late:MS; ',once' faults only the first time;"
                             " repeatable, tried in order"},
    {"--vanish-after", "MS", "close the terminal (the port disappears) and exit after MS; SIGUSR1 does the same"},
    {"--vanish-after-dump-bytes", "N", "vanish as above once N bytes of a dump have been sent"},
    {"--exit-with-parent", nullptr, "end when the process that started the simulator ends"},
};

const OptionInfo *findOption(const QString &name)
{
    for (const OptionInfo &info : kOptions) {
        if (name == QLatin1String(info.name))
            return &info;
    }
    return nullptr;
}

bool toInt(const QString &text, int minimum, int maximum, int &out)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < minimum || value > maximum)
        return false;
    out = value;
    return true;
}

bool toByte(const QString &text, quint8 &out)
{
    QByteArray bytes;
    if (!parseHex(text.size() == 1 ? QLatin1Char('0') + text : text, bytes) || bytes.size() != 1)
        return false;
    out = quint8(bytes.at(0));
    return true;
}

bool parseFault(const QString &value, SimOptions &opts, QString &error)
{
    const int eq = value.indexOf(QLatin1Char('='));
    if (eq <= 0) {
        error = QStringLiteral("--fault wants CODE=KIND, got '%1'").arg(value);
        return false;
    }
    QString code = value.left(eq).trimmed().toUpper();
    if (code == QLatin1String("KEY"))
        code = QStringLiteral("key");
    static const QStringList known = {"0B", "0C", "1E", "31", "28", "29", "34", "0A",
                                      "09:05", "09:03", "09:58", "key", "Y"};
    if (!known.contains(code)) {
        error = QStringLiteral("--fault: unknown command code '%1'").arg(code);
        return false;
    }
    QStringList parts = value.mid(eq + 1).trimmed().split(QLatin1Char(','));
    FaultRule rule;
    if (parts.size() == 2 && parts.at(1).trimmed() == QLatin1String("once"))
        rule.once = true;
    else if (parts.size() != 1) {
        error = QStringLiteral("--fault: bad kind '%1'").arg(value.mid(eq + 1));
        return false;
    }
    const QStringList kind = parts.at(0).trimmed().split(QLatin1Char(':'));
    const QString name = kind.at(0);
    const int arguments = kind.size() - 1;
    bool ok = true;
    auto number = [&](int index, int &out) {
        ok = ok && arguments > index && toInt(kind.at(index + 1), 0, 600000, out);
    };
    if (name == QLatin1String("silent") && arguments == 0)
        rule.kind = FaultRule::Silent;
    else if (name == QLatin1String("delay") && arguments == 1) {
        rule.kind = FaultRule::Delay;
        number(0, rule.first);
    } else if (name == QLatin1String("chunks") && arguments == 2) {
        rule.kind = FaultRule::Chunks;
        number(0, rule.first);
        number(1, rule.second);
        ok = ok && rule.first >= 1;
    } else if (name == QLatin1String("nulls") && arguments == 0)
        rule.kind = FaultRule::Nulls;
    else if (name == QLatin1String("leading-nulls") && arguments == 1) {
        rule.kind = FaultRule::LeadingNulls;
        number(0, rule.first);
    } else if (name == QLatin1String("embed") && arguments == 0)
        rule.kind = FaultRule::Embed;
    else if (name == QLatin1String("wrong-echo") && arguments == 0)
        rule.kind = FaultRule::WrongEcho;
    else if (name == QLatin1String("short") && arguments == 1) {
        rule.kind = FaultRule::Short;
        number(0, rule.first);
    } else if (name == QLatin1String("malformed") && arguments == 0)
        rule.kind = FaultRule::Malformed;
    else if (name == QLatin1String("late") && arguments == 1) {
        rule.kind = FaultRule::Late;
        number(0, rule.first);
    } else
        ok = false;
    if (!ok) {
        error = QStringLiteral("--fault: bad kind '%1'").arg(value.mid(eq + 1));
        return false;
    }
    opts.faults[code].append(rule);
    return true;
}

bool readFile(const QString &path, QByteArray &out, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    out = file.readAll();
    return true;
}

bool applyOption(const QString &name, const QString &value, SimOptions &opts, QString &error,
                 bool &helpWanted, int depth);

bool parseScenario(const QString &path, SimOptions &opts, QString &error, bool &helpWanted, int depth)
{
    if (depth > 8) {
        error = QStringLiteral("scenario files nest too deeply at %1").arg(path);
        return false;
    }
    QByteArray text;
    if (!readFile(path, text, error))
        return false;
    int lineNumber = 0;
    for (const QByteArray &rawLine : text.split('\n')) {
        ++lineNumber;
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const int blank = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const QString name = blank < 0 ? line : line.left(blank);
        QString value = blank < 0 ? QString() : line.mid(blank + 1).trimmed();
        // A quoted value keeps its blanks at both ends.
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        const OptionInfo *info = findOption(name);
        if (!info) {
            error = QStringLiteral("%1:%2: unknown option '%3'").arg(path).arg(lineNumber).arg(name);
            return false;
        }
        if (info->argument && blank < 0) {
            error = QStringLiteral("%1:%2: %3 needs %4").arg(path).arg(lineNumber).arg(name, QLatin1String(info->argument));
            return false;
        }
        if (!applyOption(name, value, opts, error, helpWanted, depth + 1)) {
            error = QStringLiteral("%1:%2: %3").arg(path).arg(lineNumber).arg(error);
            return false;
        }
    }
    return true;
}

bool applyOption(const QString &name, const QString &value, SimOptions &opts, QString &error,
                 bool &helpWanted, int depth)
{
    auto bad = [&]() {
        error = QStringLiteral("bad value '%1' for %2").arg(value, name);
        return false;
    };
    if (name == QLatin1String("--help"))
        helpWanted = true;
    else if (name == QLatin1String("--events"))
        opts.eventsPath = value;
    else if (name == QLatin1String("--socket"))
        opts.socketPath = value;
    else if (name == QLatin1String("--scenario"))
        return parseScenario(value, opts, error, helpWanted, depth);
    else if (name == QLatin1String("--model"))
        opts.model = value.toUtf8();
    else if (name == QLatin1String("--firmware"))
        opts.firmware = value.toUtf8();
    else if (name == QLatin1String("--build")) {
        opts.build = value.toUtf8();
        opts.hasBuild = true;
    } else if (name == QLatin1String("--identify-reply")) {
        if (!parseHex(value, opts.identifyReply))
            return bad();
        opts.hasIdentifyReply = true;
    } else if (name == QLatin1String("--operation-mode")) {
        if (!toInt(value, 0, 15, opts.operationMode))
            return bad();
    } else if (name == QLatin1String("--output-format-byte")) {
        if (!toByte(value, opts.outputFormatByte))
            return bad();
    } else if (name == QLatin1String("--config-flags")) {
        if (!toByte(value, opts.configFlags))
            return bad();
    } else if (name == QLatin1String("--require-remote"))
        opts.requireRemote = true;
    else if (name == QLatin1String("--stored-log")) {
        QByteArray text;
        if (!readFile(value, text, error))
            return false;
        opts.storedLog.append(text);
    } else if (name == QLatin1String("--demo-log")) {
        if (!toInt(value, 0, 10000000, opts.demoLog))
            return bad();
    } else if (name == QLatin1String("--seed")) {
        int seed = 0;
        if (!toInt(value, 0, 2147483647, seed))
            return bad();
        opts.seed = quint32(seed);
    } else if (name == QLatin1String("--dump-baud")) {
        if (!toInt(value, 10, 100000000, opts.dumpBaud))
            return bad();
    } else if (name == QLatin1String("--dump-burst")) {
        if (!toInt(value, 0, 2147483647, opts.dumpBurst))
            return bad();
    } else if (name == QLatin1String("--dump-pause")) {
        if (!toInt(value, 0, 600000, opts.dumpPause))
            return bad();
    } else if (name == QLatin1String("--dump-outlasts-diag")) {
        opts.dumpOutlastsDiag = true;
    } else if (name == QLatin1String("--live-format")) {
        if (!toInt(value, 1, 3, opts.liveFormat) || opts.liveFormat == 2)
            return bad();
    } else if (name == QLatin1String("--live-interval")) {
        if (!toInt(value, 1, 3600000, opts.liveInterval))
            return bad();
    } else if (name == QLatin1String("--live-record")) {
        QByteArray record;
        if (!parseHex(value, record))
            return bad();
        opts.liveRecords.append(record);
    } else if (name == QLatin1String("--live-gps"))
        opts.liveGps = true;
    else if (name == QLatin1String("--live-notify"))
        opts.liveNotify = true;
    else if (name == QLatin1String("--live-count")) {
        if (!toInt(value, 0, 2147483647, opts.liveCount))
            return bad();
    } else if (name == QLatin1String("--live-autostart"))
        opts.liveAutostart = true;
    else if (name == QLatin1String("--live-always"))
        opts.liveAlways = true;
    else if (name == QLatin1String("--diag-enable-on-attempt")) {
        if (!toInt(value, 1, 1000, opts.diagEnableOnAttempt))
            return bad();
    } else if (name == QLatin1String("--no-disabled-reply"))
        opts.noDisabledReply = true;
    else if (name == QLatin1String("--fault"))
        return parseFault(value, opts, error);
    else if (name == QLatin1String("--exit-with-parent"))
        opts.exitWithParent = true;
    else if (name == QLatin1String("--vanish-after")) {
        if (!toInt(value, 0, 86400000, opts.vanishAfter))
            return bad();
    } else if (name == QLatin1String("--vanish-after-dump-bytes")) {
        if (!toInt(value, 0, 2147483647, opts.vanishAfterDumpBytes))
            return bad();
    } else {
        error = QStringLiteral("unknown option '%1'").arg(name);
        return false;
    }
    return true;
}

}  // namespace

bool parseOptions(const QStringList &args, SimOptions &opts, QString &error, bool &helpWanted)
{
    for (int i = 0; i < args.size(); ++i) {
        QString name = args.at(i);
        QString value;
        bool hasValue = false;
        // "--x=y" is accepted beside "--x y".
        const int eq = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            hasValue = true;
        }
        const OptionInfo *info = findOption(name);
        if (!info) {
            error = QStringLiteral("unknown option '%1'").arg(args.at(i));
            return false;
        }
        if (info->argument && !hasValue) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("%1 needs %2").arg(name, QLatin1String(info->argument));
                return false;
            }
            value = args.at(++i);
        } else if (!info->argument && hasValue) {
            error = QStringLiteral("%1 takes no value").arg(name);
            return false;
        }
        if (!applyOption(name, value, opts, error, helpWanted, 0))
            return false;
    }
    return true;
}

QString helpText()
{
    QString text = QStringLiteral(
        "Usage: lidar-sim [options]\n"
        "A speed lidar on a pseudo-terminal (or a socket). Prints the terminal's path as its first\n"
        "line, then serves until SIGTERM or SIGINT.\n\nOptions:\n");
    for (const OptionInfo &info : kOptions) {
        QString left = QLatin1String(info.name);
        if (info.argument)
            left += QLatin1Char(' ') + QLatin1String(info.argument);
        text += QStringLiteral("  %1  %2\n").arg(left, -28).arg(QLatin1String(info.help));
    }
    return text;
}

}  // namespace lidarsim
