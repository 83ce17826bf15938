#include <QtTest>

#include "crypto/exportflow.h"
#include "pki.h"
#include "recordingoperator.h"

using namespace velomark;

static const QByteArray kLogText =
    "Speed,Speed_Unit,Range,Range_Unit,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id\n"
    "57,KPH,123.4,M,Approaching,2024/05/01,10:11:12,,,01234\n";

class TestExportFlow : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString first, second;  // equal subjects, different keys
    QString other, dsa;

    static CertificateList list(const QStringList &pems)
    {
        CertificateList certificates;
        for (const QString &pem : pems) {
            certificates.emplace_back(new Certificate);
            certificates.back()->LoadFromFile(pem.toStdString());
        }
        return certificates;
    }

    bool opens(const QString &file, const QString &pem)
    {
        const testpki::Run run = pki.opensslDecrypt(file, pem);
        return run.ok && run.out == kLogText;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName("Velomark");
        first = pki.certificate("first", "rsa:2048", "/CN=Speed Unit/O=Police", "11");
        second = pki.certificate("second", "rsa:1024", "/CN=Speed Unit/O=Police", "22");
        other = pki.certificate("other", "rsa:2048", "/CN=Court/O=Justice", "33");
        dsa = pki.certificate("dsa", "dsa", "/CN=Dsa Holder");
    }

    void exportIsOffered()
    {
        RecordingOperator op;
        op.answers.enqueue(true);
        QVERIFY(askForEncryptedExport(op));
        QVERIFY(!askForEncryptedExport(op));  // an empty queue answers No
        const QString question("Do you want to export the saved data to an encrypted file ?");
        QCOMPARE(op.texts(), (QStringList{question, question}));
        QCOMPARE(op.messages.first().kind, RecordedMessage::Question);
        QCOMPARE(op.messages.first().title, QString("Velomark"));
    }

    // Every failure leaves an earlier file as it was.
    void encryptDataFileOutcomes_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fileName");  // relative to the temporary folder
        QTest::addColumn<QString>("message");   // empty: no message
        QTest::newRow("success") << kLogText << "CN=Court, O=Justice" << "ok.enc"
                                 << "The encrypted data file is created successfully";
        QTest::newRow("empty buffer: silent") << QByteArray() << "CN=Court, O=Justice" << "empty.enc" << "";
        QTest::newRow("letter case differs") << kLogText << "CN=court, O=Justice" << "case.enc"
                                             << "Cannot find certificate for encryption";
        QTest::newRow("part of a name") << kLogText << "CN=Court" << "part.enc" << "Cannot find certificate for encryption";
        QTest::newRow("DSA certificate") << kLogText << "CN=Dsa Holder" << "dsa.enc" << "Failed to generate encrypted data";
        QTest::newRow("unwritable file") << kLogText << "CN=Court, O=Justice" << "missing/dir/x.enc"
                                         << "Open data file %1 failed with error: ";
    }
    void encryptDataFileOutcomes()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, name);
        QFETCH(QString, fileName);
        QFETCH(QString, message);
        const QString file = pki.path(fileName);
        const bool before = testpki::writeFile(file, "earlier export");
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        const bool written = encryptDataFile(op, encryptor, list({first, other, dsa}), data, name, file)
                             == ExportOutcome::Written;
        QCOMPARE(written, QTest::currentDataTag() == QByteArray("success"));
        if (written)
            QVERIFY(opens(file, other));
        else
            QCOMPARE(testpki::readFile(file), before ? QByteArray("earlier export") : QByteArray());
        QCOMPARE(op.messages.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(op.messages.first().title, QString("Velomark"));
            QVERIFY2(op.texts().first().startsWith(message.replace("%1", file)), qPrintable(op.texts().first()));
        }
    }

    // The first of equal subjects is addressed, and the recipient list is reset per export:
    // each file opens only with its own key.
    void recipientPerExport()
    {
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        const CertificateList certificates = list({first, second, other});
        QCOMPARE(certificateNames(certificates).mid(0, 2), (QStringList{"CN=Speed Unit, O=Police", "CN=Speed Unit, O=Police"}));
        encryptDataFile(op, encryptor, certificates, kLogText, "CN=Speed Unit, O=Police", pki.path("one.enc"));
        encryptDataFile(op, encryptor, certificates, kLogText, "CN=Court, O=Justice", pki.path("two.enc"));
        QCOMPARE(encryptor.RecipientCount(), 1);
        QVERIFY(opens(pki.path("one.enc"), first));
        QVERIFY(!opens(pki.path("one.enc"), second));
        QVERIFY(opens(pki.path("two.enc"), other));
        QVERIFY(!opens(pki.path("two.enc"), first));
    }

    void plainExport()
    {
        RecordingOperator op;
        const QString file = pki.path("plain.csv");
        QVERIFY(writePlainExport(op, kLogText, file));
        QCOMPARE(testpki::readFile(file), kLogText);  // Linux line ends stay single line feeds
        QVERIFY(writePlainExport(op, QByteArray(), pki.path("empty.csv")));
        QVERIFY(QFile::exists(pki.path("empty.csv")));
        QVERIFY(!writePlainExport(op, kLogText, pki.dir()));  // a folder is no file
        QCOMPARE(op.texts().size(), 1);
        QVERIFY(op.texts().first().startsWith(QString("Open data file %1 failed with error: ").arg(pki.dir())));
    }

    void loadingCertificates()
    {
        const QString home = pki.path("home");
        QVERIFY(pki.makeNssDb(home + "/.pki/nssdb", {{"b-court", other}, {"a-police", first}}));
        qputenv("HOME", home.toUtf8());
        RecordingOperator op;
        CertificateList certificates = list({dsa});
        QVERIFY(loadCertificates(op, certificates));
        QCOMPARE(certificateNames(certificates), (QStringList{"CN=Speed Unit, O=Police", "CN=Court, O=Justice"}));

        const QString broken = pki.path("broken");
        QDir().mkpath(broken + "/.pki/nssdb");
        testpki::writeFile(broken + "/.pki/nssdb/cert9.db", QByteArray(4096, 'x'));
        qputenv("HOME", broken.toUtf8());
        QVERIFY(!loadCertificates(op, certificates));
        QCOMPARE(op.texts(), QStringList{"OpenCurrentUserStore(0 failed"});
        QCOMPARE(op.messages.first().title, QString("Velomark"));
        QCOMPARE(certificates.size(), std::size_t(2));  // the list stays as it was
    }
};

QTEST_GUILESS_MAIN(TestExportFlow)
#include "tst_exportflow.moc"
