#include <QtTest>

#include "clirun.h"
#include "golden.h"
#include "log/logfiles.h"
#include "log/loggpx.h"
#include "log/logrows.h"
#include "recordingoperator.h"

using namespace velomark;

namespace {

// A receding imperial record in the north-west, one without a position, a metric one in the
// south-east.
const QByteArray kDump = "03 12 25 24 10 30 45 49 16 45 12 4E 01 23 07 12 34 57 41 52 00 41 01 F4 00 C0\n"
                         "01 12 25 24 10 30 45 41 00 41 01 F4 01 83\n"
                         "0B 12 25 24 10 30 45 49 16 45 12 53 01 23 07 12 34 45 41 52 00 41 00 13 88 01 A8\n";

LogRow row(const QString &latitude, const QString &longitude, const QString &lidarId = QStringLiteral("12345"))
{
    return {QStringLiteral("65 km/h"), QStringLiteral("50.0 m"), QStringLiteral("Approaching"), QString(), QString(),
            latitude, longitude, lidarId};
}

}  // namespace

class TestLogGpx : public QObject
{
    Q_OBJECT
private slots:
    // decode --format gpx of a hand-made dump, byte for byte (tests/data/decode.gpx), and the
    // count left out; GPSBabel reads the file back: as many waypoints, the same coordinates.
    void decodeWritesGpx()
    {
        const QString dump = m_dir.filePath(QStringLiteral("dump.txt"));
        QVERIFY(writeFileBytes(dump, kDump));
        const CliRun run = runCli({"decode", "--format", "gpx", "--lidar-id", "VZQ Sim 54321", dump});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, golden(QStringLiteral("decode.gpx"), run.out));
        QCOMPARE(run.err, QByteArray("1 of 3 records have no position and were left out\n"));
        QCOMPARE(runCli({"decode", "--format", "kml", dump}).exitCode, 2);

        const QString gpsbabel = QStandardPaths::findExecutable(QStringLiteral("gpsbabel"));
        if (gpsbabel.isEmpty())
            QSKIP("gpsbabel is not installed (make deps installs it)");
        const QString gpx = m_dir.filePath(QStringLiteral("decode.gpx"));
        QVERIFY(writeFileBytes(gpx, run.out));
        const CliRun babel = runProgram(gpsbabel, {"-i", "gpx", "-f", gpx, "-o", "unicsv", "-F", "-"});
        QCOMPARE(babel.exitCode, 0);
        QList<QByteArray> lines = babel.out.trimmed().split('\n');
        const QList<QByteArray> header = lines.takeFirst().trimmed().split(',');
        const int latColumn = header.indexOf("Latitude"), lonColumn = header.indexOf("Longitude");
        QStringList positions;
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.trimmed().split(',');
            positions << QString::asprintf("%.6f %.6f", fields.value(latColumn).toDouble(), fields.value(lonColumn).toDouble());
        }
        QCOMPARE(positions, (QStringList{"49.274187 -123.118723", "-49.274187 123.118723"}));
    }

    // Only texts that are a hemisphere letter and a number of degrees in range make a waypoint;
    // texts in the elements are escaped.
    void positionsAndTexts_data()
    {
        QTest::addColumn<QStringList>("row");
        QTest::addColumn<QByteArray>("waypoint");
        QTest::newRow("south-west") << row("S0.00000001", "W180.0") << QByteArray("lat=\"-0.00000001\" lon=\"-180.0\"");
        QTest::newRow("latitude beyond 90") << row("N90.5", "E2") << QByteArray();
        QTest::newRow("longitude letter as latitude") << row("E1", "E2") << QByteArray();
        QTest::newRow("two points") << row("N1.2.3", "E2") << QByteArray();
        QTest::newRow("exponent") << row("N1e1", "E2") << QByteArray();
        QTest::newRow("letter alone") << row("N", "E2") << QByteArray();
        QTest::newRow("markup in the lidar id") << row("N1", "E2", "<&\x01>")
                                               << QByteArray("<src>&lt;&amp;&gt;</src>");
    }
    void positionsAndTexts()
    {
        QFETCH(QStringList, row);
        QFETCH(QByteArray, waypoint);
        const LogGpx gpx = logGpx({row});
        QCOMPARE(gpx.waypoints, waypoint.isEmpty() ? 0 : 1);
        QCOMPARE(gpx.withoutPosition, waypoint.isEmpty() ? 1 : 0);
        if (!waypoint.isEmpty())
            QVERIFY2(gpx.text.contains(waypoint), gpx.text.constData());
    }

    // Save with a ".gpx" name writes the GPX and says how many rows had no position.
    void saveWritesGpx()
    {
        const QVector<LogRow> rows = {row("N1", "E2"), row(QString(), QString())};
        const QString path = m_dir.filePath(QStringLiteral("saved.GPX"));
        RecordingOperator op;
        op.fileNames.enqueue(path);
        QByteArray buffer;
        QCOMPARE(saveLogRows(rows, QString(), op, &buffer), LogSaveOutcome::SavedPositions);
        QCOMPARE(fileBytes(path), logGpx(rows).text);
        QCOMPARE(op.texts(), QStringList{"Data was saved to file " + path
                                         + "\n1 of 2 records have no position and were left out."});
        QCOMPARE(buffer, logCsvText(rows));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestLogGpx)
#include "tst_loggpx.moc"
