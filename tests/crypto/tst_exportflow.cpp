#include <QtTest>

#include "crypto/exportflow.h"
#include "pki.h"
#include "recordingoperator.h"

using namespace velomark;

namespace {

const QByteArray kLogText = "Speed,Speed_Unit,Range,Range_Unit,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id\n"
                            "57,KPH,123.4,M,Approaching,2024/05/01,10:11:12,,,01234\n";

std::unique_ptr<Certificate> load(const QString &pem)
{
    std::unique_ptr<Certificate> certificate(new Certificate);
    certificate->LoadFromFile(pem.toStdString());
    return certificate;
}

}  // namespace

class TestExportFlow : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString first;   // two certificates with equal subjects, different keys
    QString second;
    QString other;
    QString dsa;

    CertificateList list(const QStringList &pems)
    {
        CertificateList certificates;
        for (const QString &pem : pems)
            certificates.push_back(load(pem));
        return certificates;
    }

    bool opens(const QString &file, const QString &pem, const QString &key)
    {
        const testpki::Run run = pki.opensslDecrypt(file, pem, key);
        return run.ok && run.out == kLogText;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName("Velomark");
        QLoggingCategory::setFilterRules("velomark.*.debug=false");
        first = pki.certificate("first", "rsa:2048", "/CN=Speed Unit/O=Police", "11");
        // The same subject again, under another key.
        const testpki::Run made = testpki::run(
            "openssl", {"req", "-x509", "-new", "-key", pki.key("rsa:1024"), "-subj", "/CN=Speed Unit/O=Police",
                        "-set_serial", "0x22", "-days", "30", "-out", pki.path("second.pem")});
        QVERIFY2(made.ok, made.err.constData());
        second = pki.path("second.pem");
        other = pki.certificate("other", "rsa:2048", "/CN=Court/O=Justice", "33");
        dsa = pki.certificate("dsa", "dsa", "/CN=Dsa Holder");
    }

    void encryptionSetUp()
    {
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        QCOMPARE(encryptor.EncryptionAlgorithm(), std::string("pki"));
        QCOMPARE(encryptor.KeyLength(), 128);
        QVERIFY(!encryptor.UseOaep());
    }

    void exportIsOffered()
    {
        RecordingOperator op;
        op.answers.enqueue(true);
        QVERIFY(askForEncryptedExport(op));
        QVERIFY(!askForEncryptedExport(op));  // an empty queue answers No
        QCOMPARE(op.messages.size(), 2);
        QCOMPARE(op.messages.first().kind, RecordedMessage::Question);
        QCOMPARE(op.messages.first().title, QString("Velomark"));
        QCOMPARE(op.messages.first().text, QString("Do you want to export the saved data to an encrypted file ?"));
    }

    void encryptDataFileOutcomes_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("fileName");  // relative to the temporary folder
        QTest::addColumn<QString>("message");   // empty: no message
        QTest::addColumn<bool>("written");
        QTest::newRow("success") << kLogText << "CN=Court, O=Justice" << "ok.enc"
                                 << "The encrypted data file is created successfully" << true;
        QTest::newRow("empty buffer: silent") << QByteArray() << "CN=Court, O=Justice" << "empty.enc" << "" << false;
        QTest::newRow("letter case differs") << kLogText << "CN=court, O=Justice" << "case.enc"
                                             << "Cannot find certificate for encryption" << false;
        QTest::newRow("part of a name") << kLogText << "CN=Court" << "part.enc"
                                        << "Cannot find certificate for encryption" << false;
        QTest::newRow("DSA certificate") << kLogText << "CN=Dsa Holder" << "dsa.enc"
                                         << "Failed to generate encrypted data" << false;
        QTest::newRow("unwritable file") << kLogText << "CN=Court, O=Justice" << "missing/dir/x.enc"
                                         << "Open data file %1 failed with error: " << false;
    }
    void encryptDataFileOutcomes()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, name);
        QFETCH(QString, fileName);
        QFETCH(QString, message);
        QFETCH(bool, written);
        const QString file = pki.path(fileName);
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        const CertificateList certificates = list({first, other, dsa});
        const ExportOutcome outcome = encryptDataFile(op, encryptor, certificates, data, name, file);
        QCOMPARE(outcome == ExportOutcome::Written, written);
        QCOMPARE(QFile::exists(file), written);
        if (message.isEmpty()) {
            QVERIFY(op.messages.isEmpty());
            return;
        }
        QCOMPARE(op.messages.size(), 1);
        QCOMPARE(op.messages.first().title, QString("Velomark"));
        const QString expected = message.contains("%1") ? message.arg(file) : message;
        QVERIFY2(op.messages.first().text.startsWith(expected), qPrintable(op.messages.first().text));
        if (written)
            QVERIFY(opens(file, other, pki.keyOf(other)));
    }

    void firstOfEqualSubjectsIsAddressed()
    {
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        const CertificateList certificates = list({first, second});
        QCOMPARE(certificateNames(certificates), (QStringList{"CN=Speed Unit, O=Police", "CN=Speed Unit, O=Police"}));
        const QString file = pki.path("equal.enc");
        encryptDataFile(op, encryptor, certificates, kLogText, "CN=Speed Unit, O=Police", file);
        QVERIFY(opens(file, first, pki.key("rsa:2048")));
        QVERIFY(!opens(file, second, pki.key("rsa:1024")));
    }

    // The recipient list is reset per export: each file opens only with its own key.
    void twoExportsTwoRecipients()
    {
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        const CertificateList certificates = list({second, other});
        encryptDataFile(op, encryptor, certificates, kLogText, "CN=Speed Unit, O=Police", pki.path("one.enc"));
        encryptDataFile(op, encryptor, certificates, kLogText, "CN=Court, O=Justice", pki.path("two.enc"));
        QCOMPARE(encryptor.RecipientCount(), 1);
        QVERIFY(opens(pki.path("one.enc"), second, pki.key("rsa:1024")));
        QVERIFY(!opens(pki.path("one.enc"), other, pki.keyOf(other)));
        QVERIFY(opens(pki.path("two.enc"), other, pki.keyOf(other)));
        QVERIFY(!opens(pki.path("two.enc"), second, pki.key("rsa:1024")));
    }

    // A failed export leaves an earlier file as it was.
    void failedExportKeepsOldFile()
    {
        const QString file = pki.path("kept.enc");
        testpki::writeFile(file, "earlier export");
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        encryptDataFile(op, encryptor, list({dsa}), kLogText, "CN=Dsa Holder", file);
        QCOMPARE(testpki::readFile(file), QByteArray("earlier export"));
    }

    void plainExport()
    {
        RecordingOperator op;
        const QString file = pki.path("plain.csv");
        QVERIFY(writePlainExport(op, kLogText, file));
        QVERIFY(op.messages.isEmpty());
        QCOMPARE(testpki::readFile(file), kLogText);  // Linux line ends stay single line feeds
        QVERIFY(writePlainExport(op, QByteArray(), pki.path("empty.csv")));
        QVERIFY(QFile::exists(pki.path("empty.csv")));
        QVERIFY(!writePlainExport(op, kLogText, pki.dir()));  // a folder is no file
        QCOMPARE(op.messages.size(), 1);
        QVERIFY(op.messages.first().text.startsWith(QString("Open data file %1 failed with error: ").arg(pki.dir())));
    }

    void loadingCertificates()
    {
        const QString home = pki.path("home");
        QVERIFY(pki.makeNssDb(home + "/.pki/nssdb", {{"b-court", other}, {"a-police", first}}));
        qputenv("HOME", home.toUtf8());
        RecordingOperator op;
        CertificateList certificates = list({dsa});
        QVERIFY(loadCertificates(op, certificates));
        QVERIFY(op.messages.isEmpty());
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
