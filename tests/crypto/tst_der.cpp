#include <QtTest>

#include "crypto/derwriter.h"

using namespace velomark;

static QByteArray hex(const Bytes &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size())).toHex();
}

class TestDer : public QObject
{
    Q_OBJECT
private slots:
    void lengths_data()
    {
        QTest::addColumn<qulonglong>("length");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("0") << 0ull << QByteArray("0400");
        QTest::newRow("127 short form") << 127ull << QByteArray("047f");
        QTest::newRow("128 long form") << 128ull << QByteArray("048180");
        QTest::newRow("255") << 255ull << QByteArray("0481ff");
        QTest::newRow("256 two bytes") << 256ull << QByteArray("04820100");
        QTest::newRow("65535") << 65535ull << QByteArray("0482ffff");
        QTest::newRow("65536 three bytes") << 65536ull << QByteArray("0483010000");
        QTest::newRow("100 MB") << 100000016ull << QByteArray("048405f5e110");
    }
    void lengths()
    {
        QFETCH(qulonglong, length);
        QFETCH(QByteArray, header);
        Bytes out;
        appendDerHeader(out, DerClass::Universal, false, 4, length);
        QCOMPARE(hex(out), header);
        QCOMPARE(derHeaderSize(4, length), out.size());
    }

    void longTagNumbers()
    {
        Bytes out;
        appendDerHeader(out, DerClass::Context, true, 31, 0);
        appendDerHeader(out, DerClass::Context, false, 200, 1);
        QCOMPARE(hex(out), QByteArray("bf1f00" "9f814801"));
    }

    void oids_data()
    {
        QTest::addColumn<QString>("dotted");
        QTest::addColumn<QByteArray>("content");  // empty: refused
        QTest::newRow("envelopedData") << "1.2.840.113549.1.7.3" << QByteArray("2a864886f70d010703");
        QTest::newRow("aes-128-cbc") << "2.16.840.1.101.3.4.1.2" << QByteArray("608648016503040102");
        QTest::newRow("aes-256-cbc") << "2.16.840.1.101.3.4.1.42" << QByteArray("60864801650304012a");
        QTest::newRow("sha-1") << "1.3.14.3.2.26" << QByteArray("2b0e03021a");
        QTest::newRow("first arc 2 above 39") << "2.999.3" << QByteArray("883703");
        QTest::newRow("one arc") << "1" << QByteArray();
        QTest::newRow("first arc 3") << "3.1" << QByteArray();
        QTest::newRow("second arc 40 under 1") << "1.40" << QByteArray();
        QTest::newRow("empty arc") << "1..2" << QByteArray();
        QTest::newRow("trailing dot") << "1.2." << QByteArray();
        QTest::newRow("letters") << "1.a" << QByteArray();
        QTest::newRow("overflow") << "1.2.99999999999999999999999" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray();
    }
    void oids()
    {
        QFETCH(QString, dotted);
        QFETCH(QByteArray, content);
        DerWriter der;
        der.addOid(dotted.toStdString());
        Bytes out;
        const bool ok = der.finish(out);
        QCOMPARE(ok, !content.isEmpty());
        if (ok)
            QCOMPARE(hex(out), "06" + QByteArray::number(content.size() / 2, 16).rightJustified(2, '0') + content);
    }

    void unsignedIntegers_data()
    {
        QTest::addColumn<QByteArray>("magnitude");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("zero") << QByteArray("") << QByteArray("020100");
        QTest::newRow("zeros only") << QByteArray("0000") << QByteArray("020100");
        QTest::newRow("small") << QByteArray("7f") << QByteArray("02017f");
        QTest::newRow("top bit gets 00") << QByteArray("80ab") << QByteArray("02030080ab");
        QTest::newRow("leading zeros dropped") << QByteArray("00007f01") << QByteArray("02027f01");
        QTest::newRow("leading zero kept for top bit") << QByteArray("0000ff") << QByteArray("020200ff");
    }
    void unsignedIntegers()
    {
        QFETCH(QByteArray, magnitude);
        QFETCH(QByteArray, encoded);
        const QByteArray raw = QByteArray::fromHex(magnitude);
        DerWriter der;
        der.addUnsigned(Bytes(raw.begin(), raw.end()));
        Bytes out;
        QVERIFY(der.finish(out));
        QCOMPARE(hex(out), encoded);
    }

    // A nested value written out by hand from X.690: SEQUENCE { [0] { NULL }, SET { 2, 1 } }
    // with the SET's members in the order added, and a pre-encoded value copied through.
    void nestingKeepsOrderAndLengths()
    {
        DerWriter der;
        der.startSequence();
        der.startContext(0);
        der.addNull();
        der.end();
        der.startSet();
        der.addSmallUnsigned(2);
        der.addSmallUnsigned(1);
        der.end();
        der.addEncoded({0x04, 0x01, 0xAA});
        der.end();
        Bytes out;
        QVERIFY(der.finish(out));
        QCOMPARE(hex(out), QByteArray("300f" "a0020500" "3106020102020101" "0401aa"));
    }

    void reservedContentIsPlacedLast()
    {
        DerWriter der;
        der.startSequence();
        der.addNull();
        der.addReserved(DerClass::Context, 0, 300);
        der.end();
        Bytes out;
        std::size_t offset = 0;
        QVERIFY(der.finish(out, &offset));
        QCOMPARE(out.size(), std::size_t(4 + 2 + 4 + 300));
        QCOMPARE(hex(Bytes(out.begin(), out.begin() + 10)), QByteArray("30820132" "0500" "8082012c"));
        QCOMPARE(offset, std::size_t(10));
    }

    void misuseIsRefused_data()
    {
        QTest::addColumn<int>("misuse");
        QTest::newRow("end without start") << 0;
        QTest::newRow("finish with open sequence") << 1;
        QTest::newRow("truncated pre-encoded value") << 2;
        QTest::newRow("two values as one pre-encoded") << 3;
        QTest::newRow("indefinite length pre-encoded") << 4;
        QTest::newRow("second reserved value") << 5;
        QTest::newRow("bad OID inside a sequence") << 6;
    }
    void misuseIsRefused()
    {
        QFETCH(int, misuse);
        DerWriter der;
        switch (misuse) {
        case 0: der.addNull(); der.end(); break;
        case 1: der.startSequence(); der.addNull(); break;
        case 2: der.addEncoded({0x04, 0x05, 0x01}); break;
        case 3: der.addEncoded({0x05, 0x00, 0x05, 0x00}); break;
        case 4: der.addEncoded({0x30, 0x80, 0x00, 0x00}); break;
        case 5: der.addReserved(DerClass::Context, 0, 1); der.addReserved(DerClass::Context, 1, 1); break;
        case 6: der.startSequence(); der.addOid("7.1"); der.end(); break;
        }
        Bytes out{0x01};
        QVERIFY(!der.finish(out));
        QVERIFY(!der.error().empty());
        QCOMPARE(out, Bytes{0x01});
    }
};

QTEST_APPLESS_MAIN(TestDer)
#include "tst_der.moc"
