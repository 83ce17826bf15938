#include <QtTest>

#include "common/operatorinterface.h"
#include "common/text.h"
#include "lidar/frame.h"
#include "lidar/lidarconnection.h"
#include "lidar/queries.h"
#include "lidarsim.h"
#include "recordingoperator.h"
#include "simlink.h"

using namespace velomark;

namespace {
const QString kName = QStringLiteral("VZQ-20417");
const QStringList kNoLiveRecords{QStringLiteral("--live-interval"), QStringLiteral("600000")};
}

// The operation-mode and output-format queries against the simulator.
class TestQueries : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!simlink::simAvailable())
            QSKIP("LIDAR_SIM is not set");
    }

    void operationMode_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");  // "%hex": the reply's hex
        const QString label = QStringLiteral("QueryLidartrOperationMode");
        QTest::newRow("speed mode, value escaped") << QStringList{"--operation-mode", "1"} << 1 << "";
        QTest::newRow("mode 0") << QStringList{"--operation-mode", "0"} << 0 << "";
        QTest::newRow("mode 3") << QStringList{"--operation-mode", "3"} << 3 << "";
        QTest::newRow("mode 4 invalid") << QStringList{"--operation-mode", "4"} << 4 << "";
        QTest::newRow("mode 15 invalid, not negative") << QStringList{"--operation-mode", "15"} << 4 << "";
        QTest::newRow("4-byte reply") << QStringList{"--fault", "09:05=short:4"} << 4
                                      << label + ": Invalid data: \n%hex";
        QTest::newRow("no reply") << QStringList{"--fault", "09:05=silent"} << 5
                                  << label + ": No response from lidar";
        QTest::newRow("malformed reply") << QStringList{"--fault", "09:05=malformed"} << 5 << "";
        QTest::newRow("reply after nulls is malformed")
            << QStringList{"--fault", "09:05=leading-nulls:2"} << 5 << "";
    }
    void operationMode()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(int, result);
        QFETCH(QString, message);
        LidarSim sim(simArgs);
        QVERIFY(sim.start());
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kName, sim.portPath()});
        QVERIFY(connection.ConnectSelectedLidar(kName));
        const int before = sim.sentBytes().size();
        simlink::TraceCapture traces;

        QCOMPARE(QueryLidarOperationMode(connection), result);
        QVERIFY(sim.receivedBytes().endsWith(operationModeQueryFrame()));
        QVERIFY(traces.contains(QStringLiteral("QueryLidarrOperationMode: TX 02 09 05 0C 03 ")));
        message.replace(QLatin1String("%hex"), hexBytes(sim.sentBytes().mid(before)));
        QCOMPARE(op.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty())
            QCOMPARE(op.messages.first().title, kMessageTitle);
    }

    void outputFormat_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("lidarType");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        const QString label = QStringLiteral("QueueLidarrOutputFormat");
        const auto format = [](const char *hex) { return QStringList{"--output-format-byte", hex}; };
        QTest::newRow("0x31 type 5: low bits") << format("31") << 5 << 1 << "";
        QTest::newRow("0x33 type 2: low bits") << format("33") << 2 << 3 << "";
        QTest::newRow("0x31 type 4: high bits") << format("31") << 4 << 3 << "";
        QTest::newRow("0xA1 type 0: signed") << format("A1") << 0 << -6 << "";
        QTest::newRow("0xA1 type 1: signed") << format("A1") << 1 << -6 << "";
        QTest::newRow("0xA1 type 4: signed") << format("A1") << 4 << -6 << "";
        QTest::newRow("0xA1 type 2: low bits") << format("A1") << 2 << 1 << "";
        QTest::newRow("0xA1 type 5: low bits") << format("A1") << 5 << 1 << "";
        QTest::newRow("0x10 escaped, type 4") << format("10") << 4 << 1 << "";
        QTest::newRow("0x03 escaped, type 5") << format("03") << 5 << 3 << "";
        QTest::newRow("0x02 escaped, type 5") << format("02") << 5 << 2 << "";
        QTest::newRow("invalid lidar type") << format("31") << 6 << 4 << "";
        QTest::newRow("5-byte reply") << QStringList{"--fault", "09:03=short:5"} << 5 << 4
                                      << label + ": Invalid data: \n%hex";
        QTest::newRow("no reply") << QStringList{"--fault", "09:03=silent"} << 5 << 5
                                  << label + ": No response from lidar";
        QTest::newRow("malformed reply") << QStringList{"--fault", "09:03=malformed"} << 5 << 4 << "";
    }
    void outputFormat()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(int, lidarType);
        QFETCH(int, result);
        QFETCH(QString, message);
        // The lidar streams live records after this query; none may reach the reply.
        LidarSim sim(simArgs + kNoLiveRecords);
        QVERIFY(sim.start());
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kName, sim.portPath()});
        QVERIFY(connection.ConnectSelectedLidar(kName));
        connection.lidarType = lidarType;
        const int before = sim.sentBytes().size();

        QCOMPARE(QueueLidarOutputFormat(connection), result);
        QVERIFY(sim.receivedBytes().endsWith(outputFormatQueryFrame()));
        message.replace(QLatin1String("%hex"), hexBytes(sim.sentBytes().mid(before)));
        QCOMPARE(op.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty())
            QCOMPARE(op.messages.first().title, kMessageTitle);
    }

    // Dropping pending output right after writing lost queries on pseudo-terminals; every
    // query of a long run must be answered.
    void repeatedFormatQueriesAllAnswered()
    {
        LidarSim sim(kNoLiveRecords);
        QVERIFY(sim.start());
        RecordingOperator op;
        LidarConnection connection(op);
        connection.lidars.append({QString(), kName, sim.portPath()});
        QVERIFY(connection.ConnectSelectedLidar(kName));
        for (int i = 0; i < 15; ++i)
            QCOMPARE(QueueLidarOutputFormat(connection), 3);
        QCOMPARE(sim.receivedBytes().count(outputFormatQueryFrame()), 15);
        QCOMPARE(op.texts(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestQueries)
#include "tst_queries.moc"
