#include <QtTest>

#include "crypto/exportflow.h"
#include "pki.h"
#include "recordingoperator.h"

using namespace velomark;

static const QByteArray kLogText =
    "Speed,Speed_Unit,Range,Range_Unit,Direction,Date,Time,GPS_Latitude,GPS_Longitude,Lidar_Id\n"
    "57,KPH,123.4,M,Approaching,2024/05/01,10:11:12,,,01234\n";

// A real file that changes under the reader after its first read.
class ChangingFile : public QFile
{
public:
    enum Change { Shrinks, Grows, FailsToRead };
    ChangingFile(const QString &name, Change change) : QFile(name), m_change(change) {}

protected:
    qint64 readData(char *data, qint64 size) override
    {
        if (m_reads++ == 1 && m_change == FailsToRead) {
            setErrorString("Input/output error");
            return -1;
        }
        if (m_reads == 2)
            QFile::resize(fileName(), m_change == Shrinks ? 1500000 : 3000004);
        return QFile::readData(data, size);
    }

private:
    Change m_change;
    int m_reads = 0;
};

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
        return run.ok() && run.out == kLogText;
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
        const bool before = writeFileBytes(file, "earlier export");
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        const bool written = encryptDataFile(op, encryptor, list({first, other, dsa}), data, name, file)
                             == ExportOutcome::Written;
        QCOMPARE(written, QTest::currentDataTag() == QByteArray("success"));
        if (written)
            QVERIFY(opens(file, other));
        else
            QCOMPARE(fileBytes(file), before ? QByteArray("earlier export") : QByteArray("<unreadable>"));
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

    // A file that is not what its size said when reading began: the export fails with its
    // message and leaves no message, not even a part of one. (Refused keys are the encryptor's,
    // recipientKeyChecks; a failed encryption from memory is the DSA row above.)
    void failedExportLeavesNoFile_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<QString>("message");
        const QString unread("Read data file %1 failed with error: ");
        QTest::newRow("input shrinks") << int(ChangingFile::Shrinks) << unread + "the input ended after 1500000 of 3000000 bytes";
        QTest::newRow("input grows") << int(ChangingFile::Grows) << unread + "the input grew past 3000000 bytes while it was read";
        QTest::newRow("read error") << int(ChangingFile::FailsToRead) << unread + "Input/output error";
    }
    void failedExportLeavesNoFile()
    {
        QFETCH(int, change);
        QFETCH(QString, message);
        const QString folder = pki.path(QTest::currentDataTag());
        QDir().mkpath(folder);
        const QString input = folder + "/input.csv";
        QVERIFY(writeFileBytes(input, QByteArray(3000000, 'r')));
        ChangingFile file(input, ChangingFile::Change(change));
        QVERIFY(file.open(QIODevice::ReadOnly));
        Certificate certificate;
        QVERIFY(certificate.LoadFromFile(other.toStdString()));
        RecordingOperator op;
        Encryptor encryptor;
        configureExportEncryptor(encryptor);
        QCOMPARE(encryptFileFor(op, encryptor, certificate, file, folder + "/out.enc"), ExportOutcome::Failed);
        QCOMPARE(op.texts(), QStringList{message.replace("%1", input)});
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"input.csv"});
    }

    // A loaded store replaces the list; one that cannot be opened says so and leaves the list
    // as it was. (Folder names and the store's order are the store's: tst_certificate.)
    void loadingCertificates()
    {
        const QString home = pki.path("home");
        QVERIFY(pki.makeNssDb(home + "/.pki/nssdb", {{"b-court", other}, {"a-police", first}}));
        qputenv("HOME", home.toUtf8());
        RecordingOperator op;
        CertificateList certificates = list({dsa});
        QVERIFY(loadCertificates(op, certificates));
        QCOMPARE(certificateNames(certificates), (QStringList{"CN=Speed Unit, O=Police", "CN=Court, O=Justice"}));

        const QString broken = home + "-broken";
        QDir().mkpath(broken + "/.pki/nssdb");
        writeFileBytes(broken + "/.pki/nssdb/cert9.db", QByteArray(4096, 'x'));
        qputenv("HOME", broken.toUtf8());
        QVERIFY(!loadCertificates(op, certificates));
        QCOMPARE(op.texts(), QStringList{"OpenCurrentUserStore(0 failed"});
        QCOMPARE(op.messages.first().title, QString("Velomark"));
        QCOMPARE(certificates.size(), std::size_t(2));  // the list stays as it was
    }
};

QTEST_GUILESS_MAIN(TestExportFlow)
#include "tst_exportflow.moc"
