#include <QtTest>
#include <QtWidgets>

#include "recordingoperator.h"
#include "savedata.h"
#include "windowtest.h"

namespace {

const QByteArray kLogText = "Speed,Speed_Unit\n57,KPH\n";

// The export dialog, shown, with what it handed to the encryption.
struct Fixture
{
    RecordingOperator op;
    QStringList calls;  // data, certificate and file name of each encryption
    SaveData dialog{nullptr, op, kLogText, {"CN=A", "CN=B"},
                    [this](const QByteArray &d, const QString &n, const QString &f) { calls << d << n << f; }};
    QLineEdit *fileName = dialog.findChild<QLineEdit *>("lineEditFileName");
    Fixture() { dialog.show(); }
};

}  // namespace

class TestSaveData : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() { QCoreApplication::setApplicationName("Velomark"); }

    void saveOutcomes_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<int>("select");  // row to make current, -1 none
        QTest::addColumn<QString>("message");  // its start
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("encrypts");
        QTest::newRow("no file name") << "" << false << 0 << "Please specify the file name for the data" << false << false;
        QTest::newRow("no certificate selected") << "out.enc" << false << -1 << "Digital certificate is not selected" << true << false;
        QTest::newRow("encrypt for the selection") << "out.enc" << false << 1 << "" << true << true;
        QTest::newRow("plain written") << "plain.csv" << true << 1 << "" << true << false;
        QTest::newRow("plain unwritable") << "missing/plain.csv" << true << -1
                                          << "Open data file %1 failed with error: " << false << false;
    }
    void saveOutcomes()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, plain);
        QFETCH(int, select);
        QFETCH(QString, message);
        QFETCH(bool, closes);
        QFETCH(bool, encrypts);
        Fixture f;
        const QString path = fileName.isEmpty() ? QString() : dir.filePath(fileName);
        f.fileName->setText(path);
        f.dialog.findChild<QCheckBox *>("checkBoxPlain")->setChecked(plain);
        f.dialog.findChild<QListWidget *>("listWidgetCertificates")->setCurrentRow(select);
        QTest::mouseClick(f.dialog.findChild<QPushButton *>("pushButtonSave"), Qt::LeftButton);

        QCOMPARE(f.op.messages.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(f.op.messages.first().title, QString("Velomark"));
            QVERIFY2(f.op.messages.first().text.startsWith(message.replace("%1", path)), qPrintable(f.op.messages.first().text));
        }
        QCOMPARE(!f.dialog.isVisible() && f.dialog.result() == QDialog::Accepted, closes);
        QCOMPARE(f.calls, encrypts ? (QStringList{kLogText, "CN=B", path}) : QStringList());
        if (plain && closes)
            QCOMPARE(fileBytes(path), kLogText);
    }

    void browseAndEscape()
    {
        Fixture f;
        f.fileName->setText("/start/here.txt");
        f.op.fileNames.enqueue("/chosen/export.txt");
        QPushButton *browse = f.dialog.findChild<QPushButton *>("pushButtonBrowse");
        QTest::mouseClick(browse, Qt::LeftButton);
        QCOMPARE(f.op.lastStartDir, QString("/start/here.txt"));
        QCOMPARE(f.fileName->text(), QString("/chosen/export.txt"));
        // Cancelled: the edit keeps its text.
        QTest::mouseClick(browse, Qt::LeftButton);
        QCOMPARE(f.fileName->text(), QString("/chosen/export.txt"));
        // Escape does not close the dialog either.
        QTest::keyClick(&f.dialog, Qt::Key_Escape);
        QVERIFY(f.dialog.isVisible());
    }
};

QTEST_MAIN(TestSaveData)
#include "tst_savedata.moc"
