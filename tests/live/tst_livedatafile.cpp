#include <QtTest>

#include "live/livedatafile.h"
#include "recordingoperator.h"

using namespace velomark;

namespace {

const QByteArray kHeader =
    "Speed,Range,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id,File_name,Note\n";
const QString kNotDataFile = QStringLiteral("The selected file is not a Veltrazon Speed Lidar Data File");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

}  // namespace

class TestLiveDataFile : public QObject
{
    Q_OBJECT
private slots:
    // What is on disk before the file is chosen decides whether it is accepted, and an
    // accepted file must take appended lines below what it already held. (The window's
    // tests cover an absent file, a foreign file and a missing folder.)
    void prepare_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QByteArray>("after");  // after appending one line, when ready
        QTest::addColumn<QString>("message");

        const QByteArray line = "55,123.4,Approaching,2019Oct15,10:11:12,,,00042,data.txt,lane 1\n";
        QTest::newRow("empty file gets the header") << QByteArray() << true
                                                    << kHeader + line << QString();
        QTest::newRow("data file keeps its lines, no second header")
            << kHeader + "1,2,Receding,,,,,,a,\n" << true
            << kHeader + "1,2,Receding,,,,,,a,\n" + line << QString();
        QTest::newRow("header further down is accepted")
            << "exported by hand\n" + kHeader << true << "exported by hand\n" + kHeader + line
            << QString();
        QTest::newRow("header in other case is refused")
            << kHeader.toLower() << false << kHeader.toLower() << kNotDataFile;
    }
    void prepare()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, ready);
        QFETCH(QByteArray, after);
        QFETCH(QString, message);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data.txt"));
        writeAll(path, before);

        RecordingOperator op;
        LiveDataFile file;
        QCOMPARE(file.prepare(path, op), ready);
        QCOMPARE(file.isOpen(), ready);
        if (ready) {
            QVERIFY(op.messages.isEmpty());
            QVERIFY(file.appendLine(QString::fromUtf8(after.mid(after.lastIndexOf('\n', after.size() - 2) + 1))));
            // Every line is on disk as soon as it is appended, without closing the file.
            QCOMPARE(readAll(path), after);
        } else {
            QCOMPARE(op.messages.size(), 1);
            QCOMPARE(op.messages[0].title, kMessageTitle);
            QCOMPARE(op.messages[0].text, message);
            QVERIFY(!file.appendLine(QStringLiteral("lost\n")));
            QCOMPARE(readAll(path), after);
        }
    }

    // A file that cannot be opened or written is not ready, and the operator learns why.
    void openFailures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("folder instead of a file") << QStringLiteral("/tmp");
        QTest::newRow("device that is always full") << QStringLiteral("/dev/full");
    }
    void openFailures()
    {
        QFETCH(QString, path);
        RecordingOperator op;
        LiveDataFile file;
        QVERIFY(!file.prepare(path, op));
        QVERIFY(!file.isOpen());
        QCOMPARE(op.messages.size(), 1);
        QCOMPARE(op.messages[0].title, kMessageTitle);
        const QString prefix = QStringLiteral("Open data file %1 failed with error: ").arg(path);
        QVERIFY2(op.messages[0].text.startsWith(prefix), qPrintable(op.messages[0].text));
        QVERIFY2(op.messages[0].text.size() > prefix.size(), "the file's error string is missing");
    }

    void unicodeNoteIsWrittenAsUtf8()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("notes.txt"));
        RecordingOperator op;
        LiveDataFile file;
        QVERIFY(file.prepare(path, op));
        QVERIFY(file.appendLine(QStringLiteral("1,,Approaching,,,,,,notes.txt,Stra\u00dfe \u00e9t\u00e9\n")));
        QCOMPARE(readAll(path), kHeader + "1,,Approaching,,,,,,notes.txt,Stra\xc3\x9f" "e \xc3\xa9t\xc3\xa9\n");
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
        QCOMPARE(readAll(first), kHeader);
        QCOMPARE(readAll(second), kHeader + "b\nc\n");
        QVERIFY(op.messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLiveDataFile)
#include "tst_livedatafile.moc"
