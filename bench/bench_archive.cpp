// What archiving adds to a retrieval: a log of 2000 records retrieved through the real
// `velomark-cli retrieve` from lidar-sim (dump at 1 Mbaud), then archiveDownload on that dump
// alone (dump file, SHA-256, record count, JSON record), repeated; then signing that record
// with an RSA-2048 key in a throw-away NSS database, and checking the signature, repeated.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "crypto/recordsignature.h"
#include "log/downloadrecord.h"

using namespace velomark;

namespace {

QString program(const char *variable, const QString &besideBench)
{
    const QString set = qEnvironmentVariable(variable);
    return set.isEmpty() ? QCoreApplication::applicationDirPath() + besideBench : set;
}

bool runTool(const QString &tool, const QStringList &args)
{
    QProcess process;
    process.start(tool, args);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// An NSS database under home/.pki/nssdb holding "bench" with its private key.
bool makeSigningDatabase(const QTemporaryDir &dir)
{
    const QString db = dir.filePath("home/.pki/nssdb");
    return QDir().mkpath(db)
           && runTool("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", dir.filePath("k.pem"),
                                  "-subj", "/CN=Bench Officer", "-days", "2", "-out", dir.filePath("c.pem")})
           && runTool("openssl", {"pkcs12", "-export", "-in", dir.filePath("c.pem"), "-inkey", dir.filePath("k.pem"),
                                  "-name", "bench", "-passout", "pass:", "-out", dir.filePath("c.p12")})
           && runTool("certutil", {"-N", "--empty-password", "-d", "sql:" + db})
           && runTool("pk12util", {"-i", dir.filePath("c.p12"), "-d", "sql:" + db, "-W", "", "-K", ""});
}

void printTimes(const char *what, std::vector<qint64> &micros)
{
    std::sort(micros.begin(), micros.end());
    const std::size_t n = micros.size();
    std::printf("%-52s %.2f ms (fastest %.2f, slowest %.2f)\n", what, micros[n / 2] / 1000.0, micros.front() / 1000.0,
                micros.back() / 1000.0);
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
    QString recordPath;
    for (int i = 0; i < kRuns; ++i) {
        clock.restart();
        const ArchiveResult archived = archiveDownload(dir.filePath("archive"), dump, facts);
        micros.push_back(clock.nsecsElapsed() / 1000);
        if (!archived.error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(archived.error));
            return 1;
        }
        recordPath = archived.record.path;
    }
    std::printf("retrieval of 2000 records (%d bytes), whole command:  %lld ms\n", dump.size(),
                static_cast<long long>(retrievalMs));
    printTimes(qPrintable(QStringLiteral("archiving that dump (median of %1):").arg(kRuns)), micros);

    // Each signing opens the database afresh, as the command line and the window do.
    if (!makeSigningDatabase(dir)) {
        std::fprintf(stderr, "the NSS database for signing cannot be made\n");
        return 1;
    }
    qputenv("HOME", dir.filePath("home").toUtf8());
    std::vector<qint64> signing, checking;
    for (int i = 0; i < kRuns; ++i) {
        clock.restart();
        const QString error = signRecordFile(recordPath, QStringLiteral("bench"), {});
        signing.push_back(clock.nsecsElapsed() / 1000);
        clock.restart();
        const SignatureCheck check = checkRecordSignature(recordPath);
        checking.push_back(clock.nsecsElapsed() / 1000);
        if (!error.isEmpty() || check.status != SignatureCheck::Ok) {
            std::fprintf(stderr, "signing failed: %s %s\n", qPrintable(error), qPrintable(check.reason));
            return 1;
        }
    }
    printTimes(qPrintable(QStringLiteral("signing its record, RSA-2048 (median of %1):").arg(kRuns)), signing);
    printTimes(qPrintable(QStringLiteral("checking that signature (median of %1):").arg(kRuns)), checking);
    return 0;
}
