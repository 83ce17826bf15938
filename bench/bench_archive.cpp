// What archiving adds to a retrieval: a log of 2000 records retrieved through the real
// `velomark-cli retrieve` from lidar-sim (dump at 1 Mbaud), then archiveDownload on that dump
// alone (dump file, SHA-256, record count, JSON record), repeated.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "log/downloadrecord.h"

using namespace velomark;

namespace {

QString program(const char *variable, const QString &besideBench)
{
    const QString set = qEnvironmentVariable(variable);
    return set.isEmpty() ? QCoreApplication::applicationDirPath() + besideBench : set;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // As in the command line without --trace: the decoder's per-line trace is off.
    QLoggingCategory::setFilterRules(QStringLiteral("velomark.*.debug=false"));
    QTemporaryDir dir;
    QProcess sim;
    sim.start(program("LIDAR_SIM", QStringLiteral("/../tools/lidar-sim/lidar-sim")),
              {"--firmware", "10.0", "--demo-log", "2000", "--dump-baud", "1000000"});
    if (!sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "lidar-sim did not start\n");
        return 1;
    }
    const QString port = QString::fromUtf8(sim.readLine().trimmed());

    QProcess cli;
    QElapsedTimer clock;
    clock.start();
    cli.start(program("VELOMARK_CLI", QStringLiteral("/../src/cli/velomark-cli")),
              {"retrieve", "--quiet", "--port", port, "--name", "VZQ Bench", "--archive", dir.filePath("cli"),
               "--dump", dir.filePath("dump.txt"), "--output", dir.filePath("log.csv")});
    cli.waitForFinished(120000);
    const qint64 retrievalMs = clock.elapsed();
    sim.kill();
    sim.waitForFinished();
    QFile file(dir.filePath("dump.txt"));
    if (cli.exitCode() != 0 || !file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "retrieve failed: %s\n", cli.readAllStandardError().constData());
        return 1;
    }
    const QByteArray dump = file.readAll();

    DownloadFacts facts;
    facts.lidar.name = QStringLiteral("VZQ Bench");
    facts.started = QDateTime::currentDateTimeUtc();
    facts.finished = facts.started;
    facts.end = QStringLiteral("complete");
    constexpr int kRuns = 50;
    std::vector<qint64> micros;
    for (int i = 0; i < kRuns; ++i) {
        clock.restart();
        const ArchiveResult archived = archiveDownload(dir.filePath("archive"), dump, facts);
        micros.push_back(clock.nsecsElapsed() / 1000);
        if (!archived.error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(archived.error));
            return 1;
        }
    }
    std::sort(micros.begin(), micros.end());
    std::printf("retrieval of 2000 records (%d bytes), whole command:  %lld ms\n", dump.size(),
                static_cast<long long>(retrievalMs));
    std::printf("archiving that dump (median of %d):                 %.2f ms (fastest %.2f, slowest %.2f)\n", kRuns,
                micros[kRuns / 2] / 1000.0, micros.front() / 1000.0, micros.back() / 1000.0);
    return 0;
}
