#include <QtTest>

#include "common/operatorinterface.h"
#include "common/text.h"
#include "lidar/frame.h"
#include "lidar/queries.h"
#include "simlink.h"

using namespace velomark;
using simlink::Bench;

// The operation-mode and output-format queries against the simulator. The lidar streams
// live records after the format query; a long interval keeps them out of the replies.
class TestQueries : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!simlink::simAvailable())
            QSKIP("LIDAR_SIM is not set");
    }

    void queries_data()
    {
        QTest::addColumn<bool>("format");  // output format, else operation mode
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("lidarType");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");  // "%hex": the reply
        const auto mode = [](const char *n) { return QStringList{"--operation-mode", n}; };
        const auto byte = [](const char *hex) { return QStringList{"--output-format-byte", hex}; };
        const auto fault = [](const char *f) { return QStringList{"--fault", f}; };
        const QString opLabel = QStringLiteral("QueryLidartrOperationMode");
        const QString fmtLabel = QStringLiteral("QueueLidarrOutputFormat");
        QTest::newRow("mode 1, value escaped") << false << mode("1") << 5 << 1 << "";
        QTest::newRow("mode 0") << false << mode("0") << 5 << 0 << "";
        QTest::newRow("mode 3") << false << mode("3") << 5 << 3 << "";
        QTest::newRow("mode 4 invalid") << false << mode("4") << 5 << 4 << "";
        QTest::newRow("mode 15 invalid, not negative") << false << mode("15") << 5 << 4 << "";
        QTest::newRow("mode: 4-byte reply") << false << fault("09:05=short:4") << 5 << 4 << opLabel + ": Invalid data: \n%hex";
        QTest::newRow("mode: no reply") << false << fault("09:05=silent") << 5 << 5 << opLabel + ": No response from lidar";
        QTest::newRow("mode: malformed") << false << fault("09:05=malformed") << 5 << 5 << "";
        QTest::newRow("0x31 type 5: low bits") << true << byte("31") << 5 << 1 << "";
        QTest::newRow("0x31 type 4: high bits") << true << byte("31") << 4 << 3 << "";
        QTest::newRow("0xA1 type 0: signed") << true << byte("A1") << 0 << -6 << "";
        QTest::newRow("0xA1 type 1: signed") << true << byte("A1") << 1 << -6 << "";
        QTest::newRow("0xA1 type 4: signed") << true << byte("A1") << 4 << -6 << "";
        QTest::newRow("0xA1 type 2: low bits") << true << byte("A1") << 2 << 1 << "";
        QTest::newRow("0xA1 type 5: low bits") << true << byte("A1") << 5 << 1 << "";
        QTest::newRow("0x10 escaped, type 4") << true << byte("10") << 4 << 1 << "";
        QTest::newRow("0x03 escaped, type 5") << true << byte("03") << 5 << 3 << "";
        QTest::newRow("0x02 escaped, type 2") << true << byte("02") << 2 << 2 << "";
        QTest::newRow("invalid lidar type") << true << byte("31") << 6 << 4 << "";
        QTest::newRow("format: 5-byte reply") << true << fault("09:03=short:5") << 5 << 4 << fmtLabel + ": Invalid data: \n%hex";
        QTest::newRow("format: no reply") << true << fault("09:03=silent") << 5 << 5 << fmtLabel + ": No response from lidar";
        QTest::newRow("format: malformed") << true << fault("09:03=malformed") << 5 << 4 << "";
    }
    void queries()
    {
        QFETCH(bool, format);
        QFETCH(QStringList, simArgs);
        QFETCH(int, lidarType);
        QFETCH(int, result);
        QFETCH(QString, message);
        Bench bench(simArgs + QStringList{"--live-interval", "600000"});
        QVERIFY(bench.start() && bench.connection.ConnectSelectedLidar(simlink::kName));
        bench.connection.lidarType = lidarType;
        const int before = bench.sim.sentBytes().size();
        simlink::TraceCapture traces;

        QCOMPARE(format ? QueueLidarOutputFormat(bench.connection) : QueryLidarOperationMode(bench.connection), result);
        const QByteArray query = format ? outputFormatQueryFrame() : operationModeQueryFrame();
        QVERIFY(bench.sim.receivedBytes().endsWith(query));
        const QString writeLabel = format ? "QueueLidarrOutputFormat" : "QueryLidarrOperationMode";
        QVERIFY(traces.contains(writeLabel + ": TX " + hexBytes(query)));
        message.replace("%hex", hexBytes(bench.sim.sentBytes().mid(before)));
        QCOMPARE(bench.op.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty())
            QCOMPARE(bench.op.messages.first().title, kMessageTitle);
    }

    // Clearing both directions right after the write lost queries on pseudo-terminals, and
    // flushing input blind lost replies: every query of a long run must be answered.
    void repeatedFormatQueriesAllAnswered()
    {
        Bench bench({"--live-interval", "600000"});
        QVERIFY(bench.start() && bench.connection.ConnectSelectedLidar(simlink::kName));
        for (int i = 0; i < 15; ++i)
            QCOMPARE(QueueLidarOutputFormat(bench.connection), 3);
        QCOMPARE(bench.sim.receivedBytes().count(outputFormatQueryFrame()), 15);
        QCOMPARE(bench.op.texts(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestQueries)
#include "tst_queries.moc"
