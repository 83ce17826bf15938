#include <QtTest>

#include "crypto/certstore.h"
#include "crypto/encryptor.h"
#include "pki.h"

using namespace velomark;

class TestCertStore : public QObject
{
    Q_OBJECT
    testpki::Pki pki;
    QString home;  // a home with $HOME/.pki/nssdb holding three certificates

    static void useHome(const QString &homeDir, const QString &dataHome = QString())
    {
        qputenv("HOME", homeDir.toUtf8());
        if (dataHome.isEmpty())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    }

    static QStringList subjects(CertificateStore &store)
    {
        QStringList names;
        for (int i = 0; i < store.CertificateCount(); ++i) {
            auto certificate = store.GetCertificate(i);
            names << (certificate ? QString::fromStdString(certificate->SubjectDN()) : QStringLiteral("<null>"));
        }
        return names;
    }

private slots:
    void initTestCase()
    {
        home = pki.path("home");
        // Inserted out of nickname order: the store must sort them.
        QVERIFY(pki.makeNssDb(home + "/.pki/nssdb",
                              {{"zulu", pki.certificate("z", "rsa:1024", "/CN=Zulu")},
                               {"alpha", pki.certificate("a", "rsa:1024", "/CN=Alpha, Inc/O=Org")},
                               {"mike", pki.certificate("m", "rsa:1024", "/CN=Mike")}}));
    }

    void sortedByNicknameAndStable()
    {
        useHome(home);
        const QStringList expected{"CN=\"Alpha, Inc\", O=Org", "CN=Mike", "CN=Zulu"};
        for (int round = 0; round < 2; ++round) {
            CertificateStore store;
            QVERIFY(store.OpenCurrentUserStore(true));
            QCOMPARE(store.CertificateCount(), 3);
            QCOMPARE(subjects(store), expected);
            QCOMPARE(QString::fromStdString(store.Location()), home + "/.pki/nssdb");
        }
    }

    void indexBounds()
    {
        useHome(home);
        CertificateStore store;
        QVERIFY(!store.GetCertificate(0));  // nothing open yet
        QCOMPARE(store.CertificateCount(), 0);
        QVERIFY(store.OpenCurrentUserStore(true));
        QVERIFY(store.GetCertificate(0));
        QVERIFY(store.LastMethodSuccess());
        QVERIFY(!store.GetCertificate(3));
        QVERIFY(!store.LastMethodSuccess());
        QVERIFY(!store.GetCertificate(-1));
    }

    void databaseLocations_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("opens");
        QTest::newRow("no database anywhere: empty store") << "none" << 0 << true;
        QTest::newRow("XDG_DATA_HOME") << "xdg" << 1 << true;
        QTest::newRow("default data home") << "default" << 1 << true;
        QTest::newRow("folder without database files") << "emptyfolder" << 0 << true;
        QTest::newRow("unreadable database") << "corrupt" << 0 << false;
    }
    void databaseLocations()
    {
        QFETCH(QString, layout);
        QFETCH(int, count);
        QFETCH(bool, opens);
        const QString base = pki.path("loc-" + layout);
        QDir().mkpath(base + "/home");
        const QString one = pki.certificate("loc", "rsa:1024", "/CN=Located");
        if (layout == "xdg") {
            QVERIFY(pki.makeNssDb(base + "/data/pki/nssdb", {{"only", one}}));
            useHome(base + "/home", base + "/data");
        } else if (layout == "default") {
            QVERIFY(pki.makeNssDb(base + "/home/.local/share/pki/nssdb", {{"only", one}}));
            useHome(base + "/home");
        } else if (layout == "emptyfolder") {
            QDir().mkpath(base + "/home/.pki/nssdb");
            useHome(base + "/home");
        } else if (layout == "corrupt") {
            QDir().mkpath(base + "/home/.pki/nssdb");
            testpki::writeFile(base + "/home/.pki/nssdb/cert9.db", QByteArray(4096, 'x'));
            useHome(base + "/home");
        } else {
            useHome(base + "/home");
        }
        CertificateStore store;
        QCOMPARE(store.OpenCurrentUserStore(true), opens);
        QCOMPARE(store.LastMethodSuccess(), opens);
        QCOMPARE(store.CertificateCount(), count);
        if (!opens)
            QVERIFY(store.LastLog().find("openCertStore:") != std::string::npos);
    }

    // The certificate must outlive both its store and its own Certificate object while a
    // recipient list holds it.
    void certificateOutlivesStore()
    {
        useHome(home);
        Encryptor encryptor;
        encryptor.SetEncryptionAlgorithm("pki");
        std::string subject;
        {
            CertificateStore store;
            QVERIFY(store.OpenCurrentUserStore(true));
            auto certificate = store.GetCertificate(1);
            QVERIFY(certificate);
            QVERIFY(encryptor.SetRecipientCert(*certificate));
            subject = certificate->SubjectDN();
        }
        BinaryData data;
        data.AppendData("kept alive", 10);
        QVERIFY(encryptor.EncryptBinaryData(data));
        QVERIFY(data.Size() > 100);
        QCOMPARE(subject, std::string("CN=Mike"));
    }
};

QTEST_GUILESS_MAIN(TestCertStore)
#include "tst_certstore.moc"
