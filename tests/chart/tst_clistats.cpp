#include <QtTest>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "clirun.h"
#include "live/liverow.h"
#include "log/downloadrecord.h"
#include "pdfreadback.h"
#include "sampledump.h"

using namespace velomark;

namespace {

// Three records over two days; the Lidar_Id field is quoted, as a comma in it makes it.
const QByteArray kLogCsv = sampledump::kCsvHeader
                           + "50,km/h,50.0,m,Approaching,2024-12-25,10:30:45,,,\"1,2\"\r\n"
                             "61,km/h,40.0,m,Receding,2024-12-25,10:31:00,,,12345\r\n"
                             "71,km/h,40.0,m,Receding,2024-12-26,08:00:00,,,12345\r\n";

}  // namespace

class TestCliStats : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!qgetenv("VELOMARK_CLI").isEmpty(), "VELOMARK_CLI is not set");
        QVERIFY(m_dir.isValid());
        QVERIFY(writeFileBytes(path("logDump.txt"), sampledump::kDump));
        QVERIFY(writeFileBytes(path("log.csv"), kLogCsv));
        QVERIFY(writeFileBytes(path("nothing.txt"), "not a record\n"));
        // The live data file as live acquisition writes it, in this locale's month names: two
        // approaching speeds, a receding one, and a row without a speed.
        QByteArray live = QByteArray(liveCsvHeader);
        const QDateTime when(QDate(2024, 12, 25), QTime(10, 30, 45), Qt::UTC);
        const struct { int seconds, direction, speed; const char *note; } rows[] = {
            {0, 0, 30, "a note, with\na line break"}, {5, 0, 35, ""}, {9, 1, 50, ""}, {9, 1, SpeedRecord::kMissing, ""}};
        for (const auto &row : rows) {
            const SpeedRecord record{QString(), QString(), when.addSecs(row.seconds), row.direction, row.speed, 500, 0, false};
            live += liveDataLine(record, QStringLiteral("VZQ 12345"), QStringLiteral("live.csv"), QString::fromUtf8(row.note)).toUtf8();
        }
        QVERIFY(writeFileBytes(path("live.csv"), live));
    }

    // Each kind of input in one format, with the options passed on: lines of the output show
    // each (the figures and their forms are the core's: tst_speedstats). No valid speed: said,
    // nothing printed, no failure (as decode of such a file). Usage errors exit 2, as the
    // report's own, and a report that cannot be written exits 1; each says why.
    void runs_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArrayList>("lines");  // of the output; none: nothing printed
        QTest::addColumn<QByteArray>("err");        // in what is said; none: nothing said
        QTest::newRow("dump as JSON") << QStringList{"stats", "--format", "json", "FILE:logDump.txt"} << 0
                                      << QByteArrayList{"            \"count\": 3,"} << QByteArray();
        QTest::newRow("log CSV as CSV, one day, limit 60")
            << QStringList{"stats", "--format", "csv", "--from", "2024-12-25", "--to", "2024-12-25", "--limit", "60",
                           "FILE:log.csv"}
            << 0 << QByteArrayList{"all,km/h,60,2,50.0,61.0,55.5,7.8,51.6,55.5,59.4,60.5,41,51,1,50.0,1,50.0"} << QByteArray();
        // A live data file says no unit: --unit gives it.
        QTest::newRow("live data file in mph as text") << QStringList{"stats", "--unit", "mph", "FILE:live.csv"} << 0
            << QByteArrayList{"Speeds in mph, limit 50 mph: 4 rows, 1 left out without a valid speed",
                              "Mean                      38.3         32.5         50.0"}
            << QByteArray();
        QTest::newRow("no records") << QStringList{"stats", "FILE:nothing.txt"} << 0 << QByteArrayList()
                                    << QByteArray("no records in FILE:nothing.txt\n");
        for (const QStringList &args :
             {QStringList{"stats", "--format", "xml", "FILE:log.csv"}, QStringList{"stats", "--unit", "knots", "FILE:log.csv"},
              QStringList{"stats", "--limit", "ten", "FILE:log.csv"}, QStringList{"stats", "FILE:log.csv", "FILE:live.csv"},
              QStringList{"stats", "FILE:absent.csv"},
              QStringList{"report", "--output", "FILE:report.png", "FILE:log.csv"}})
            QTest::addRow("usage: %s", qPrintable(args.join(' ')))
                << args << 2 << QByteArrayList() << QByteArray("velomark-cli: ");
        QTest::newRow("report unwritable") << QStringList{"report", "--output", "FILE:no-dir/report.pdf", "FILE:log.csv"}
                                           << 1 << QByteArrayList() << QByteArray("velomark-cli: ");
    }
    void runs()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, err);
        const CliRun run = runCli(args.replaceInStrings("FILE:", m_dir.path() + '/'));
        QTEST(run.exitCode, "exitCode");
        for (const QByteArray &line : lines)
            QVERIFY2(run.out.split('\n').contains(line), run.out.constData());
        if (lines.isEmpty())
            QCOMPARE(run.out, QByteArray());
        if (err.isEmpty())
            QCOMPARE(run.err, QByteArray());
        else
            QVERIFY2(run.err.contains(err.replace("FILE:", m_dir.path().toUtf8() + '/')), run.err.constData());
    }

    // report: poppler reads back from the PDF the counts and the 85th percentiles that stats
    // gives as JSON for the same file and options, at one decimal; the pages are A4. Of a dump
    // archived with its download record, the report names the record's lidar, the dump's
    // digest, that the file is that dump, and whether a signature lies beside the record.
    void reportReadsBack_data()
    {
        QTest::addColumn<QString>("file");        // in an archive folder of that name for an archived dump
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("signedCell");  // an archived dump's, else empty
        QTest::newRow("log CSV, one day: no receding speed")
            << "log.csv" << QStringList{"--from", "2024-12-26", "--to", "2024-12-26"} << QString();
        QTest::newRow("archived dump") << "unsigned" << QStringList() << "no";
        QTest::newRow("archived dump, signed") << "signed" << QStringList() << "yes";
    }
    void reportReadsBack()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, args);
        QFETCH(QString, signedCell);
        if (!havePoppler())
            QSKIP("pdftotext and pdfinfo (poppler-utils) are not installed");
        QString input = m_dir.filePath(file);
        ArchiveResult archived;
        if (!signedCell.isEmpty()) {
            DownloadFacts facts;
            facts.lidar.name = QStringLiteral("VZQ Sim 54321");
            facts.started = QDateTime(QDate(2024, 12, 26), QTime(9, 0), Qt::UTC);
            facts.finished = facts.started.addSecs(20);
            facts.end = QStringLiteral("complete");
            archived = archiveDownload(input, sampledump::kDump, facts);
            QVERIFY2(archived.error.isEmpty(), qPrintable(archived.error));
            if (signedCell == QLatin1String("yes"))
                QVERIFY(writeFileBytes(archived.record.path + QStringLiteral(".p7s"), "signature"));
            input = QFileInfo(archived.record.path).dir().filePath(archived.record.dumpFile);
        }
        const CliRun stats = runCli(QStringList{"stats", "--format", "json"} + args + QStringList{input});
        QCOMPARE(stats.exitCode, 0);
        const QJsonObject groups = QJsonDocument::fromJson(stats.out).object().value(QLatin1String("groups")).toObject();
        const QString pdf = path("report.pdf");
        const CliRun run = runCli(QStringList{"report", "--title", "Main Street, northbound"} + args
                                  + QStringList{"--output", pdf, input});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray());

        const QString text = pdfText(pdf);
        QVERIFY2(text.contains(QLatin1String("Main Street, northbound")), qPrintable(text));
        QStringList counts, p85s;
        for (const char *group : {"approaching", "receding", "all"}) {
            const QJsonObject figures = groups.value(QLatin1String(group)).toObject();
            counts << QString::number(figures.value(QLatin1String("count")).toInt());
            const QJsonValue p85 = figures.value(QLatin1String("p85"));
            p85s << (p85.isNull() ? QStringLiteral("-") : QString::number(p85.toDouble(), 'f', 1));
        }
        QCOMPARE(pdfLineCells(text, QStringLiteral("Count")), counts);
        QCOMPARE(pdfLineCells(text, QStringLiteral("85th percentile")), p85s);

        const PdfInfo info = pdfInfo(pdf);
        QCOMPARE(info.pageSize, QStringLiteral("595 x 842 pts (A4)"));
        QVERIFY2(info.pages == 1 || info.pages == 2, qPrintable(QString::number(info.pages)));
        if (signedCell.isEmpty())
            return;
        QCOMPARE(pdfLineCells(text, QStringLiteral("Lidar")), (QStringList{"VZQ", "Sim", "54321"}));
        QCOMPARE(pdfLineCells(text, QStringLiteral("Lidar_Id")), QStringList{"54321"});
        QCOMPARE(pdfLineCells(text, QStringLiteral("Dump SHA-256")),
                 QStringList{QString::fromLatin1(archived.record.dumpSha256)});
        QCOMPARE(pdfLineCells(text, QStringLiteral("Input is that dump")), QStringList{"yes"});
        QCOMPARE(pdfLineCells(text, QStringLiteral("Signed")).value(0), signedCell);
        QCOMPARE(pdfLineCells(text, QStringLiteral("Period")).mid(0, 5),
                 (QStringList{"2024-12-25", "10:30:45", "to", "2025-01-01", "00:00:00"}));
    }

private:
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestCliStats)
#include "tst_clistats.moc"
