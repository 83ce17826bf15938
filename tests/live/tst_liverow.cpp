#include <QtTest>

#include <clocale>
#include <cstdio>

#include "clirun.h"
#include "commalocale.h"
#include "golden.h"
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

}  // namespace

class TestLiveRow : public QObject
{
    Q_OBJECT
private slots:
    // The row's columns joined with '|', and the data file line for the same record, in
    // tests/data/live_rows.txt: metric approaching, imperial receding with a position, a
    // three-byte range, missing speed and range, speed 0 of a text record shown, no date, and
    // lidar name, file name and note quoted.
    void texts()
    {
        const struct { SpeedRecord record; const char *lidarName, *fileName, *note; } cases[] = {
            {record(55, 1234, 0, true), "BT:RX:Brasko", "shift1.csv", "north lane"},
            {record(31, 5, 1, false, kTaken, "N45.50000000", "W73.50833333"), "LR 20417", "a.csv", ""},
            {record(120, 1234567, 0, true), "X1", "f", "n"},
            {record(SpeedRecord::kMissing, SpeedRecord::kMissing, 1, true), "BT:RX:Brasko", "f.csv", "n"},
            {record(0, 0, 0, false), "BT:RX:Brasko", "f.csv", ""},
            {record(55, 1234, 0, true, QDateTime()), "BT:RX:Brasko", "f.csv", ""},
            {record(55, 1234, 0, true), "LR,1,2", "day,1.csv", "the \"old\"\nbridge"}};
        QByteArray table;
        for (const auto &c : cases)
            table += liveRowTexts(c.record, QString::fromUtf8(c.lidarName)).join('|').toUtf8() + '\n'
                     + liveDataLine(c.record, QString::fromUtf8(c.lidarName), QString::fromUtf8(c.fileName),
                                    QString::fromUtf8(c.note)).toUtf8();
        QCOMPARE(table, golden(QStringLiteral("live_rows.txt"), table));
    }

    // The month is abbreviated in the workstation's language, and every number is written the
    // same in every locale: the test runs itself again under other locales (a decimal comma,
    // digits of another script) and reads the data file line it prints for a "$" record. Its
    // own English locale is the golden file's.
    void lineInEveryLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("line");
        const QString rest = QStringLiteral(",14:30:15,N45.50000000,W73.50833333,rasko,f.csv,n");
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
        const CliRun child = runProgram(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-line")},
                                        {"LANG", "LC_TIME", "LC_ALL=" + locale, comma ? "LOCPATH=" + dir.path() : "LOCPATH"});
        const QString printed = QString::fromUtf8(child.out);
        if (comma)
            QVERIFY2(printed.startsWith(QLatin1String("decimal point ,\n")), qPrintable(printed));
        QTEST(printed.section(QLatin1Char('\n'), 1, 1), "line");
    }

    // What is on disk before the file is chosen decides whether it is accepted, and an
    // accepted file takes appended lines (UTF-8) below what it already held. Choosing another
    // file then lets go of the former one, and a closed file reopens for appending.
    void prepare_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("ready");
        QTest::newRow("empty file gets the header") << QByteArray() << true;
        QTest::newRow("header further down is accepted") << "exported by hand\n" + kLiveHeader << true;
        QTest::newRow("header in other case is refused") << kLiveHeader.toLower() << false;
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
        const QByteArray written = !ready ? before : (before.isEmpty() ? kLiveHeader : before) + line.toUtf8();
        QCOMPARE(fileBytes(path), written);
        QCOMPARE(op.texts(), ready ? QStringList() : QStringList{"The selected file is not a Veltrazon Speed Lidar Data File"});
        if (!ready) {
            QCOMPARE(op.messages[0].title, kMessageTitle);
            return;
        }

        const QString other = dir.filePath(QStringLiteral("other.txt"));
        QVERIFY(file.prepare(other, op));
        QCOMPARE(file.fileName(), other);
        file.close();
        QVERIFY(!file.appendLine(QStringLiteral("lost\n")));
        QVERIFY(file.openForAppend(op));
        QVERIFY(file.openForAppend(op));
        QVERIFY(file.appendLine(line));
        QCOMPARE(fileBytes(path), written);
        QCOMPARE(fileBytes(other), kLiveHeader + line.toUtf8());
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
