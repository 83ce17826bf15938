#include <QtTest>

#include <clocale>
#include <cstdio>

#include "clirun.h"
#include "commalocale.h"
#include "live/livedatafile.h"
#include "live/liverecordparser.h"
#include "live/liverow.h"
#include "recordingoperator.h"

using namespace velomark;

namespace {

const QDateTime kTaken(QDate(2019, 10, 15), QTime(14, 30, 5));

SpeedRecord record(int speed, int range, int direction, bool metric, const QDateTime &when = kTaken,
                   const QString &latitude = {}, const QString &longitude = {})
{
    return SpeedRecord{latitude, longitude, when, direction, speed, range, 0, metric};
}

const QByteArray kHeader = "Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n";

}  // namespace

Q_DECLARE_METATYPE(SpeedRecord)

class TestLiveRow : public QObject
{
    Q_OBJECT
private slots:
    // The row's columns joined with '|', and the data file line for the same record.
    void texts_data()
    {
        QTest::addColumn<SpeedRecord>("record");
        QTest::addColumn<QString>("lidarName");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("columns");
        QTest::addColumn<QString>("line");

        QTest::newRow("metric approaching") << record(55, 1234, 0, true) << "BT:RX:Brasko" << "shift1.csv" << "north lane"
            << "55 km/h|123.4 m|Approaching|2019Oct15|14:30:05|||rasko"
            << "55,123.4,Approaching,2019Oct15,14:30:05,,,rasko,shift1.csv,north lane\n";
        QTest::newRow("imperial receding with position")
            << record(31, 5, 1, false, kTaken, "N45.50000000", "W73.50833333") << "LR 20417" << "a.csv" << ""
            << "31 mph|0.5 ft|Receding|2019Oct15|14:30:05|N45.50000000|W73.50833333|20417"
            << "31,0.5,Receding,2019Oct15,14:30:05,N45.50000000,W73.50833333,20417,a.csv,\n";
        QTest::newRow("three-byte range") << record(120, 1234567, 0, true) << "X1" << "f" << "n"
            << "120 km/h|123456.7 m|Approaching|2019Oct15|14:30:05|||X1" << "120,123456.7,Approaching,2019Oct15,14:30:05,,,X1,f,n\n";
        QTest::newRow("missing speed and range") << record(SpeedRecord::kMissing, SpeedRecord::kMissing, 1, true) << "BT:RX:Brasko" << "f.csv" << "n"
            << "||Receding|2019Oct15|14:30:05|||rasko" << ",,Receding,2019Oct15,14:30:05,,,rasko,f.csv,n\n";
        QTest::newRow("speed 0 of a text record shown") << record(0, 0, 0, false) << "BT:RX:Brasko" << "f.csv" << ""
            << "0 mph|0.0 ft|Approaching|2019Oct15|14:30:05|||rasko" << "0,0.0,Approaching,2019Oct15,14:30:05,,,rasko,f.csv,\n";
        QTest::newRow("no date") << record(55, 1234, 0, true, QDateTime()) << "BT:RX:Brasko" << "f.csv" << ""
            << "55 km/h|123.4 m|Approaching|||||rasko" << "55,123.4,Approaching,,,,,rasko,f.csv,\n";
        QTest::newRow("lidar name, file name and note quoted") << record(55, 1234, 0, true) << "LR,1,2" << "day,1.csv"
            << "the \"old\"\nbridge" << "55 km/h|123.4 m|Approaching|2019Oct15|14:30:05|||R,1,2"
            << "55,123.4,Approaching,2019Oct15,14:30:05,,,\"R,1,2\",\"day,1.csv\",\"the \"\"old\"\"\nbridge\"\n";
    }
    void texts()
    {
        QFETCH(SpeedRecord, record);
        QFETCH(QString, lidarName);
        QFETCH(QString, fileName);
        QFETCH(QString, note);
        QTEST(liveRowTexts(record, lidarName).join('|'), "columns");
        QTEST(liveDataLine(record, lidarName, fileName, note), "line");
    }

    // The month is abbreviated in the workstation's language, and every number is written the
    // same in every locale: the test runs itself again under other locales (a decimal comma,
    // digits of another script) and reads the data file line it prints for a "$" record.
    void lineInEveryLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("line");
        const QString rest = QStringLiteral(",14:30:15,N45.50000000,W73.50833333,rasko,f.csv,n");
        QTest::newRow("English") << "en_GB.UTF-8" << "55,123.4,Receding,2019Oct15" + rest;
        QTest::newRow("German: decimal comma") << kCommaLocale << "55,123.4,Receding,2019Okt.15" + rest;
        QTest::newRow("Persian: other digits") << "fa_IR.UTF-8" << QString::fromUtf8("55,123.4,Receding,2019\u0627\u06a9\u062a\u0628\u063115") + rest;
    }
    void lineInEveryLocale()
    {
        QFETCH(QString, locale);
        QTemporaryDir dir;
        const bool comma = locale == QLatin1String(kCommaLocale);
        if (comma && (!dir.isValid() || !makeCommaLocale(dir.path())))
            QSKIP("localedef could not make a locale with a decimal comma");
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("LANG"));
        environment.remove(QStringLiteral("LC_TIME"));
        environment.insert(QStringLiteral("LC_ALL"), locale);
        if (comma)
            environment.insert(QStringLiteral("LOCPATH"), dir.path());
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-line")});
        QVERIFY(child.waitForFinished(30000));
        const QString printed = QString::fromUtf8(child.readAllStandardOutput());
        if (comma)
            QVERIFY2(printed.startsWith(QLatin1String("decimal point ,\n")), qPrintable(printed));
        QTEST(printed.section(QLatin1Char('\n'), 1, 1), "line");
    }

    // What is on disk before the file is chosen decides whether it is accepted, and an
    // accepted file takes appended lines (UTF-8) below what it already held.
    void prepare_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("ready");
        QTest::newRow("empty file gets the header") << QByteArray() << true;
        QTest::newRow("header further down is accepted") << "exported by hand\n" + kHeader << true;
        QTest::newRow("header in other case is refused") << kHeader.toLower() << false;
    }
    void prepare()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, ready);
        const QString line = QStringLiteral("55,123.4,Approaching,2019Oct15,10:11:12,,,00042,data.txt,Stra\u00dfe \u00e9t\u00e9\n");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data.txt"));
        QVERIFY(writeFileBytes(path, before));
        RecordingOperator op;
        LiveDataFile file;
        QCOMPARE(file.prepare(path, op), ready);
        QCOMPARE(file.isOpen(), ready);
        QCOMPARE(file.appendLine(line), ready);
        // Every line is on disk as soon as it is appended, without closing the file.
        QCOMPARE(fileBytes(path), !ready ? before : (before.isEmpty() ? kHeader : before) + line.toUtf8());
        QCOMPARE(op.texts(), ready ? QStringList() : QStringList{"The selected file is not a Veltrazon Speed Lidar Data File"});
        if (!ready)
            QCOMPARE(op.messages[0].title, kMessageTitle);
    }

    // Choosing another file lets go of the former one; a closed file reopens for appending.
    void switchingAndReopening()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.txt"));
        const QString second = dir.filePath(QStringLiteral("second.txt"));
        RecordingOperator op;
        LiveDataFile file;
        QVERIFY(file.prepare(first, op));
        QVERIFY(file.prepare(second, op));
        QCOMPARE(file.fileName(), second);
        QVERIFY(file.appendLine(QStringLiteral("b\n")));
        file.close();
        QVERIFY(!file.appendLine(QStringLiteral("lost\n")));
        QVERIFY(file.openForAppend(op));
        QVERIFY(file.openForAppend(op));
        QVERIFY(file.appendLine(QStringLiteral("c\n")));
        QCOMPARE(fileBytes(first), kHeader);
        QCOMPARE(fileBytes(second), kHeader + "b\nc\n");
        QVERIFY(op.messages.isEmpty());
    }
};

int main(int argc, char *argv[])
{
    if (argc == 2 && qstrcmp(argv[1], "--print-line") == 0) {
        // The application takes the locale from the environment, as the program does.
        QCoreApplication app(argc, argv);
        const std::optional<SpeedRecord> parsed =
            parseLiveRecord("$SPD,1,101519,143015,4530.0000,N,07330.5000,W,A,R,055,0123.4,1", QDateTime());
        std::printf("decimal point %s\n%s", std::localeconv()->decimal_point,
                    liveDataLine(*parsed, QStringLiteral("BT:RX:Brasko"), QStringLiteral("f.csv"), QStringLiteral("n"))
                        .toUtf8()
                        .constData());
        return 0;
    }
    // The expected texts are English; the system locale decides the month's name.
    qputenv("LC_ALL", "en_GB.UTF-8");
    QCoreApplication app(argc, argv);
    TestLiveRow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_liverow.moc"
