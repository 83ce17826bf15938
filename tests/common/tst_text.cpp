#include <QtTest>

#include "common/text.h"

using namespace velomark;

class TestText : public QObject
{
    Q_OBJECT
private slots:
    void stripLeadingZeros_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("leading zeros") << "0045" << "45";
        QTest::newRow("all zeros keep one") << "000" << "0";
        QTest::newRow("zero before point kept") << "00.5" << "0.5";
        QTest::newRow("fraction unchanged") << "0.5" << "0.5";
        QTest::newRow("single digit") << "7" << "7";
        QTest::newRow("single zero") << "0" << "0";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("zero then letter") << "0x" << "x";
    }
    void stripLeadingZeros()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(StripLeadingZeros(in), out);
    }

    void hexBytesFormat()
    {
        QCOMPARE(hexBytes(QByteArray::fromHex("020b0bff")), QStringLiteral("02 0B 0B FF "));
        QCOMPARE(hexBytes(QByteArray()), QString());
    }

    void csvField_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("plain") << "VZQ01" << "VZQ01";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("comma") << "north, lane 2" << "\"north, lane 2\"";
        QTest::newRow("quote") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
        QTest::newRow("line feed") << "a\nb" << "\"a\nb\"";
        QTest::newRow("carriage return") << "a\rb" << "\"a\rb\"";
    }
    void csvField()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(velomark::csvField(in), out);
    }
};

QTEST_APPLESS_MAIN(TestText)
#include "tst_text.moc"
