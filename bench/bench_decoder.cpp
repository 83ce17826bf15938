// Decoding speed of the log dump, with the decoder's trace category off and on; the same
// dump through the real `velomark-cli decode` (reading the file, decoding, writing the log CSV)
// beside it; and the cost of turning the records into the log list's row texts with the date
// filter off and on.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "log/logdecoder.h"
#include "log/logrows.h"

using namespace velomark;

namespace {

// A dump of `lines` valid records, mixing the four record types as a lidar log would.
QByteArray makeDump(int lines)
{
    QByteArray dump;
    dump.reserve(qsizetype(lines) * 70);
    char line[160];
    int skew = 0;
    for (int i = 0; i < lines; ++i) {
        const int day = 1 + i % 28, hour = i % 24, minute = (i / 24) % 60, second = i % 60;
        // A byte 0x80 reads as a filler; the lidar's own logs have lost such records too.
        int speed = 20 + (i + skew) % 180, range = 50 + i % 9000;
        if ((speed & 0xFF) == 0x80)
            ++speed;
        if ((range & 0xFF) == 0x80 || ((range >> 8) & 0xFF) == 0x80)
            range += 1;
        const int tokens[] = {day / 10 * 16 + day % 10, hour / 10 * 16 + hour % 10,
                              minute / 10 * 16 + minute % 10, second / 10 * 16 + second % 10};
        const int type = (i % 4 == 0) ? 0x01 : (i % 4 == 1) ? 0x03 : (i % 4 == 2) ? 0x09 : 0x0B;
        int sum = type ^ 0x12 ^ tokens[0] ^ 0x24 ^ tokens[1] ^ tokens[2] ^ tokens[3];
        int n = std::snprintf(line, sizeof line, "%02X 12 %02X 24 %02X %02X %02X", type, tokens[0],
                              tokens[1], tokens[2], tokens[3]);
        if (type == 0x03 || type == 0x0B) {
            static const int gps[] = {0x49, 0x16, 0x45, 0x12, 0x4E, 0x01, 0x23, 0x07, 0x12, 0x34, 0x57, 0x41};
            for (int g : gps) {
                n += std::snprintf(line + n, sizeof line - n, " %02X", g);
                sum ^= g;
            }
        }
        const int direction = (i & 1) ? 0x41 : 0x52;
        n += std::snprintf(line + n, sizeof line - n, " %02X %02X %02X", direction, speed >> 8, speed & 0xFF);
        sum ^= direction ^ (speed >> 8) ^ (speed & 0xFF);
        if (type == 0x09 || type == 0x0B) {
            n += std::snprintf(line + n, sizeof line - n, " %02X %02X %02X", (range >> 16) & 0xFF,
                               (range >> 8) & 0xFF, range & 0xFF);
            sum ^= ((range >> 16) & 0xFF) ^ ((range >> 8) & 0xFF) ^ (range & 0xFF);
        } else {
            n += std::snprintf(line + n, sizeof line - n, " %02X %02X", (range >> 8) & 0xFF, range & 0xFF);
            sum ^= ((range >> 8) & 0xFF) ^ (range & 0xFF);
        }
        const bool metric = i % 3 != 0;
        sum ^= metric ? 1 : 0;
        // A checksum byte 0x80 would read as a filler too; such a record is left out.
        if ((sum & 0xFF) == 0x80) {
            --i;
            ++skew;
            continue;
        }
        n += std::snprintf(line + n, sizeof line - n, " %s %02X\r\n", metric ? "01" : "00", sum & 0xFF);
        dump.append(line, n);
    }
    return dump;
}

void nullHandler(QtMsgType, const QMessageLogContext &, const QString &) {}

// Best of a few runs, in milliseconds.
template <typename Work>
double bestMs(int runs, Work work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

// The command-line program beside this build's benchmarks, or $VELOMARK_CLI.
QString cliPath()
{
    if (!qEnvironmentVariableIsEmpty("VELOMARK_CLI"))
        return qEnvironmentVariable("VELOMARK_CLI");
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../src/cli/velomark-cli"));
}

// Runs `velomark-cli decode FILE` with its output thrown away; false when the program failed.
bool runCliDecode(const QString &cli, const QString &dumpPath)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(cli, {QStringLiteral("decode"), dumpPath});
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    return true;
}

// The CSV lines `velomark-cli decode` prints for the dump, header excluded; -1 on failure.
int cliCsvLines(const QString &cli, const QString &dumpPath)
{
    QProcess process;
    process.start(cli, {QStringLiteral("decode"), dumpPath});
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    return int(process.readAllStandardOutput().count('\n')) - 1;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(nullHandler);

    std::printf("%-10s %-6s %9s %12s %14s %10s\n", "lines", "trace", "MB", "ms", "records/s", "MB/s");
    for (int lines : {10000, 100000, 1000000}) {
        const QByteArray dump = makeDump(lines);
        for (bool traceOn : {false, true}) {
            QLoggingCategory::setFilterRules(traceOn ? QStringLiteral("velomark.log.debug=true")
                                                     : QStringLiteral("velomark.log.debug=false"));
            int decoded = 0;
            const double ms = bestMs(lines >= 1000000 ? 2 : 3, [&] { decoded = decodeLogDump(dump).size(); });
            if (decoded != lines) {
                std::fprintf(stderr, "decoded %d of %d lines\n", decoded, lines);
                return 1;
            }
            const double mb = dump.size() / 1e6;
            std::printf("%-10d %-6s %9.1f %12.1f %14.0f %10.1f\n", lines, traceOn ? "on" : "off", mb, ms,
                        lines / (ms / 1000), mb / (ms / 1000));
        }
    }
    QLoggingCategory::setFilterRules(QStringLiteral("velomark.log.debug=false"));

    // End to end: the program started on a dump file, trace off, output to /dev/null.
    const QString cli = cliPath();
    QTemporaryDir dir;
    if (!QFileInfo(cli).isExecutable() || !dir.isValid()) {
        std::printf("\nvelomark-cli decode: %s not built, skipped\n", qPrintable(cli));
    } else {
        std::printf("\n%-10s %-16s %9s %12s %14s %10s\n", "lines", "cli decode", "MB", "ms", "lines/s", "MB/s");
        for (int lines : {100000, 1000000}) {
            const QByteArray dump = makeDump(lines);
            const QString path = dir.filePath(QStringLiteral("logDump.txt"));
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(dump) != dump.size())
                return 1;
            file.close();
            const int printed = cliCsvLines(cli, path);
            if (printed != lines) {
                std::fprintf(stderr, "velomark-cli decode printed %d of %d lines\n", printed, lines);
                return 1;
            }
            bool failed = false;
            const double ms = bestMs(3, [&] { failed = failed || !runCliDecode(cli, path); });
            if (failed)
                return 1;
            const double mb = dump.size() / 1e6;
            std::printf("%-10d %-16s %9.1f %12.1f %14.0f %10.1f\n", lines, "end to end", mb, ms,
                        lines / (ms / 1000), mb / (ms / 1000));
        }
    }

    std::printf("\n%-10s %-8s %8s %12s %14s %12s\n", "records", "filter", "rows", "rows ms", "rows/s", "CSV ms");
    for (int count : {10000, 100000}) {
        const QVector<SpeedRecord> records = decodeLogDump(makeDump(count));
        const struct { const char *name; LogDateFilter filter; } filters[] = {
            {"off", LogDateFilter::all()},
            {"on", LogDateFilter::between(QDate(2024, 12, 1), QDate(2024, 12, 14))},
        };
        for (const auto &f : filters) {
            QVector<LogRow> rows;
            const double ms = bestMs(3, [&] { rows = logRows(records, f.filter, QStringLiteral("12345")); });
            const double csvMs = bestMs(3, [&] { logCsvText(rows); });
            std::printf("%-10d %-8s %8d %12.1f %14.0f %12.1f\n", count, f.name, int(rows.size()), ms,
                        count / (ms / 1000), csvMs);
        }
    }
    return 0;
}
