#include <QtTest>

#include "live/livereader.h"

using namespace velomark;

class TestNotificationFrames : public QObject
{
    Q_OBJECT
private slots:
    void strip_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<QByteArray>("stripped");
        const QByteArray record = QByteArray::fromHex("021504003704D201F103");
        const QByteArray first = QByteArray::fromHex("02040403");
        const QByteArray second = QByteArray::fromHex("02050503");

        QTest::newRow("frame before") << first + record << record;
        QTest::newRow("frame after") << record + second << record;
        QTest::newRow("frames on both ends") << second + record + first << record;
        QTest::newRow("several frames before and after") << first + second + first + record + second + second << record;
        QTest::newRow("frame inside kept") << record + first + record << record + first + record;
        QTest::newRow("inside kept, ends stripped") << first + record + second + record + first << record + second + record;
        QTest::newRow("only frames") << first + second + first << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("partial frame at start kept") << QByteArray::fromHex("020404") + record << QByteArray::fromHex("020404") + record;
        QTest::newRow("other control frame kept") << QByteArray::fromHex("020B0B03") + record << QByteArray::fromHex("020B0B03") + record;
    }
    void strip()
    {
        QFETCH(QByteArray, buffer);
        QTEST(stripNotificationFrames(buffer), "stripped");
    }

    void minimumLength_data()
    {
        QTest::addColumn<int>("outputFormat");
        QTest::addColumn<int>("length");
        QTest::newRow("binary") << 1 << 10;
        QTest::newRow("text") << 3 << 40;
        QTest::newRow("unknown") << 0 << 40;
    }
    void minimumLength()
    {
        QFETCH(int, outputFormat);
        QTEST(minimumLiveBufferLength(outputFormat), "length");
    }
};

QTEST_APPLESS_MAIN(TestNotificationFrames)
#include "tst_notificationframes.moc"
