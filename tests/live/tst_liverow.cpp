#include <QtTest>

#include "live/liverow.h"

using namespace velomark;

namespace {

SpeedRecord makeRecord(int speed, int range, int direction, bool metric, const QDateTime &when,
                       const QString &latitude = QString(), const QString &longitude = QString())
{
    SpeedRecord record;
    record.speed = speed;
    record.range = range;
    record.direction = direction;
    record.metric = metric;
    record.dateTime = when;
    record.latitude = latitude;
    record.longitude = longitude;
    return record;
}

const QDateTime kTaken(QDate(2019, 10, 15), QTime(14, 30, 5));
constexpr int kMissing = SpeedRecord::kMissing;

}  // namespace

Q_DECLARE_METATYPE(SpeedRecord)

class TestLiveRow : public QObject
{
    Q_OBJECT
private slots:
    void texts_data()
    {
        QTest::addColumn<SpeedRecord>("record");
        QTest::addColumn<QString>("lidarName");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QString>("line");

        QTest::newRow("metric approaching")
            << makeRecord(55, 1234, 0, true, kTaken) << "BT:RX:Brasko" << "shift1.csv" << "north lane"
            << QStringList{"55 km/h", "123.4 m", "Approaching", "2019Oct15", "14:30:05", "", "", "rasko"}
            << "55,123.4,Approaching,2019Oct15,14:30:05,,,rasko,shift1.csv,north lane\n";
        QTest::newRow("imperial receding with position")
            << makeRecord(31, 5, 1, false, kTaken, "N45.50000000", "W73.50833333") << "LR 20417"
            << "a.csv" << ""
            << QStringList{"31 mph", "0.5 ft", "Receding", "2019Oct15", "14:30:05", "N45.50000000", "W73.50833333", "20417"}
            << "31,0.5,Receding,2019Oct15,14:30:05,N45.50000000,W73.50833333,20417,a.csv,\n";
        QTest::newRow("three-byte range")
            << makeRecord(120, 1234567, 0, true, kTaken) << "X1" << "f" << "n"
            << QStringList{"120 km/h", "123456.7 m", "Approaching", "2019Oct15", "14:30:05", "", "", "X1"}
            << "120,123456.7,Approaching,2019Oct15,14:30:05,,,X1,f,n\n";
        QTest::newRow("missing speed and range")
            << makeRecord(kMissing, kMissing, 1, true, kTaken) << "BT:RX:Brasko" << "f.csv" << "n"
            << QStringList{"", "", "Receding", "2019Oct15", "14:30:05", "", "", "rasko"}
            << ",,Receding,2019Oct15,14:30:05,,,rasko,f.csv,n\n";
        QTest::newRow("speed 0 of a text record shown")
            << makeRecord(0, 0, 0, false, kTaken) << "BT:RX:Brasko" << "f.csv" << ""
            << QStringList{"0 mph", "0.0 ft", "Approaching", "2019Oct15", "14:30:05", "", "", "rasko"}
            << "0,0.0,Approaching,2019Oct15,14:30:05,,,rasko,f.csv,\n";
        QTest::newRow("no date")
            << makeRecord(55, 1234, 0, true, QDateTime()) << "BT:RX:Brasko" << "f.csv" << ""
            << QStringList{"55 km/h", "123.4 m", "Approaching", "", "", "", "", "rasko"}
            << "55,123.4,Approaching,,,,,rasko,f.csv,\n";
        QTest::newRow("note with a comma quoted")
            << makeRecord(55, 1234, 0, true, kTaken) << "BT:RX:Brasko" << "f.csv" << "Main St, lane 2"
            << QStringList{"55 km/h", "123.4 m", "Approaching", "2019Oct15", "14:30:05", "", "", "rasko"}
            << "55,123.4,Approaching,2019Oct15,14:30:05,,,rasko,f.csv,\"Main St, lane 2\"\n";
        QTest::newRow("note with quotes and a line break")
            << makeRecord(55, 1234, 0, true, kTaken) << "BT:RX:Brasko" << "f.csv" << "the \"old\"\nbridge"
            << QStringList{"55 km/h", "123.4 m", "Approaching", "2019Oct15", "14:30:05", "", "", "rasko"}
            << "55,123.4,Approaching,2019Oct15,14:30:05,,,rasko,f.csv,\"the \"\"old\"\"\nbridge\"\n";
        QTest::newRow("file name and lidar name with commas")
            << makeRecord(55, 1234, 0, true, kTaken) << "LR,1,2" << "day,1.csv" << "n"
            << QStringList{"55 km/h", "123.4 m", "Approaching", "2019Oct15", "14:30:05", "", "", "R,1,2"}
            << "55,123.4,Approaching,2019Oct15,14:30:05,,,\"R,1,2\",\"day,1.csv\",n\n";
    }
    void texts()
    {
        QFETCH(SpeedRecord, record);
        QFETCH(QString, lidarName);
        QFETCH(QString, fileName);
        QFETCH(QString, note);
        QTEST(liveRowTexts(record, lidarName), "columns");
        QTEST(liveDataLine(record, lidarName, fileName, note), "line");
    }

    void header()
    {
        QCOMPARE(QByteArray(liveCsvHeader),
                 QByteArray("Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n"));
    }

    void alignment()
    {
        for (int column = 0; column < 7; ++column)
            QCOMPARE(liveColumnAlignment(column), Qt::Alignment(Qt::AlignRight));
        QCOMPARE(liveColumnAlignment(7), Qt::Alignment(Qt::AlignHCenter));
    }

    void fileName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("absolute") << "/home/op/data/shift 1.csv" << "shift 1.csv";
        QTest::newRow("bare name") << "shift.csv" << "shift.csv";
        QTest::newRow("relative") << "data/shift.csv" << "shift.csv";
        QTest::newRow("trailing separator") << "/home/op/" << "";
    }
    void fileName()
    {
        QFETCH(QString, path);
        QTEST(liveDataFileName(path), "name");
    }

    // The month is abbreviated in the workstation's language: the test runs itself again
    // under other locales and reads the date column it prints.
    void monthFollowsSystemLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("date");
        QTest::newRow("English") << "en_GB.UTF-8" << "2019Oct15";
        QTest::newRow("German") << "de_DE.UTF-8" << "2019Okt.15";
        QTest::newRow("French") << "fr_FR.UTF-8" << "2019oct.15";
    }
    void monthFollowsSystemLocale()
    {
        QFETCH(QString, locale);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("LANG"));
        environment.remove(QStringLiteral("LC_TIME"));
        environment.insert(QStringLiteral("LC_ALL"), locale);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-date")});
        QVERIFY(child.waitForFinished(30000));
        QTEST(QString::fromUtf8(child.readAllStandardOutput()).trimmed(), "date");
    }
};

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--print-date") == 0) {
        const SpeedRecord record = makeRecord(55, 1234, 0, true, kTaken);
        printf("%s\n", qPrintable(liveRowTexts(record, QString()).at(3)));
        return 0;
    }
    // The expected texts are English; the system locale decides the month's name.
    qputenv("LC_ALL", "en_GB.UTF-8");
    QCoreApplication app(argc, argv);
    TestLiveRow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_liverow.moc"
