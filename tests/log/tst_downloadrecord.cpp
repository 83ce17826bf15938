#include <QtTest>

#include "clirun.h"
#include "log/downloadrecord.h"
#include "sampledump.h"

using namespace velomark;

namespace {

DownloadFacts facts(const QString &lidarName)
{
    DownloadFacts f;
    f.lidar = {lidarName, QStringLiteral("0012F3A4B5C6"), QStringLiteral("/dev/rfcomm0"), 5, QStringLiteral("9.3")};
    f.started = QDateTime(QDate(2026, 12, 7), QTime(15, 0, 0), Qt::UTC);
    f.finished = f.started.addSecs(7);
    f.end = QStringLiteral("complete");
    f.diagnosticModeLeft = true;
    return f;
}

void flipBit(const QString &path, int offset)
{
    QByteArray bytes = fileBytes(path);
    bytes[offset] = char(bytes.at(offset) ^ 0x04);
    QVERIFY(writeFileBytes(path, bytes));
}

}  // namespace

class TestDownloadRecord : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(!qgetenv("VELOMARK_CLI").isEmpty(), "VELOMARK_CLI is not set"); }

    // verify names every file with its verdict, and succeeds only when all match. The record
    // verified is the first of two downloads started in the same second: the second gets names
    // of its own and the first dump stays as it was; the lidar's name cannot lead out of the
    // folder.
    void verify_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");  // %dump and %csv stand for the files' names
        QTest::newRow("untouched") << "" << 0 << "OK dump %dump\nOK saved %csv\n";
        QTest::newRow("one bit of the dump") << "dump" << 1 << "MISMATCH dump %dump\nOK saved %csv\n";
        QTest::newRow("one bit of the saved CSV") << "csv" << 1 << "OK dump %dump\nMISMATCH saved %csv\n";
        QTest::newRow("saved CSV gone") << "remove csv" << 1 << "OK dump %dump\nMISSING saved %csv\n";
        QTest::newRow("record not JSON") << "record" << 2 << "";
    }
    void verify()
    {
        QFETCH(QString, tamper);
        QTemporaryDir dir;
        const QString folder = dir.filePath("archive");
        ArchiveResult archived = archiveDownload(folder, sampledump::kDump, facts("VZQ/../Demo 7"));
        const ArchiveResult second = archiveDownload(folder, "01 02\n", facts("VZQ/../Demo 7"));
        QVERIFY2(archived.error.isEmpty() && second.error.isEmpty(), qPrintable(archived.error + second.error));
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
                 (QStringList{"VZQ_.._Demo_7_20261207T150000Z-2.dump", "VZQ_.._Demo_7_20261207T150000Z-2.json",
                              "VZQ_.._Demo_7_20261207T150000Z.dump", "VZQ_.._Demo_7_20261207T150000Z.json"}));
        QCOMPARE(fileBytes(QDir(folder).filePath(second.record.dumpFile)), QByteArray("01 02\n"));
        const QString csv = dir.filePath("log.csv");
        QVERIFY(writeFileBytes(csv, sampledump::allRecordsCsv("-Demo")));
        const QString added = addSavedFile(archived.record, csv, 3);
        QVERIFY2(added.isEmpty(), qPrintable(added));

        const QString dumpPath = QDir(folder).filePath(archived.record.dumpFile);
        if (tamper == QLatin1String("dump"))
            flipBit(dumpPath, 40);
        else if (tamper == QLatin1String("csv"))
            flipBit(csv, 100);
        else if (tamper == QLatin1String("remove csv"))
            QVERIFY(QFile::remove(csv));
        else if (tamper == QLatin1String("record"))
            QVERIFY(writeFileBytes(archived.record.path, "{\"format\": \"velomark-download-record\","));

        const CliRun run = runCli({"verify", archived.record.path});
        QTEST(run.exitCode, "exitCode");
        QFETCH(QString, out);
        QCOMPARE(QString::fromUtf8(run.out), out.replace("%dump", archived.record.dumpFile).replace("%csv", csv));
        QCOMPARE(run.err.isEmpty(), run.exitCode != 2);
    }
};

QTEST_MAIN(TestDownloadRecord)
#include "tst_downloadrecord.moc"
