#include <QtTest>

#include "common/text.h"

using namespace velomark;

class TestText : public QObject
{
    Q_OBJECT
private slots:
    // "zeros": StripLeadingZeros; "csv": csvField, the one quoting rule of every CSV line
    // written; "hex": hexBytes of the bytes given in hexadecimal.
    void transforms_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("leading zeros") << "zeros" << "0045" << "45";
        QTest::newRow("all zeros keep one") << "zeros" << "000" << "0";
        QTest::newRow("zero before point kept") << "zeros" << "00.5" << "0.5";
        QTest::newRow("empty") << "zeros" << "" << "";
        QTest::newRow("zero then letter") << "zeros" << "0x" << "x";
        QTest::newRow("plain field") << "csv" << "VZQ01" << "VZQ01";
        QTest::newRow("comma") << "csv" << "north, lane 2" << "\"north, lane 2\"";
        QTest::newRow("quote") << "csv" << "say \"hi\"" << "\"say \"\"hi\"\"\"";
        QTest::newRow("line feed") << "csv" << "a\nb" << "\"a\nb\"";
        QTest::newRow("carriage return") << "csv" << "a\rb" << "\"a\rb\"";
        QTest::newRow("bytes") << "hex" << "020b0bff" << "02 0B 0B FF ";
        QTest::newRow("no bytes") << "hex" << "" << "";
    }
    void transforms()
    {
        QFETCH(QString, function);
        QFETCH(QString, in);
        QTEST(function == "csv" ? csvField(in) : function == "hex" ? hexBytes(QByteArray::fromHex(in.toLatin1())) : StripLeadingZeros(in),
              "out");
    }
};

QTEST_APPLESS_MAIN(TestText)
#include "tst_text.moc"
