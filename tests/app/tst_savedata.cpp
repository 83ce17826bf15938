#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include "recordingoperator.h"
#include "savedata.h"

namespace {

const QByteArray kLogText = "Speed,Speed_Unit\n57,KPH\n";

struct EncryptCall
{
    QByteArray data;
    QString certificateName;
    QString fileName;
};

}  // namespace

class TestSaveData : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

    struct Fixture
    {
        RecordingOperator op;
        QList<EncryptCall> calls;
        std::unique_ptr<SaveData> dialog;
        QLineEdit *fileName = nullptr;
        QCheckBox *plain = nullptr;
        QListWidget *certificates = nullptr;

        Fixture(const QByteArray &logText, const QStringList &names)
        {
            dialog.reset(new SaveData(nullptr, op, logText, names,
                                      [this](const QByteArray &d, const QString &n, const QString &f) {
                                          calls.append({d, n, f});
                                      }));
            fileName = dialog->findChild<QLineEdit *>("lineEditFileName");
            plain = dialog->findChild<QCheckBox *>("checkBoxPlain");
            certificates = dialog->findChild<QListWidget *>("listWidgetCertificates");
            dialog->show();
        }
        bool accepted() const { return !dialog->isVisible() && dialog->result() == QDialog::Accepted; }
    };

private slots:
    void initTestCase() { QCoreApplication::setApplicationName("Velomark"); }

    void formHasItsControls()
    {
        Fixture f(kLogText, {"CN=A", "CN=B"});
        QVERIFY(f.fileName && f.plain && f.certificates);
        QVERIFY(f.dialog->findChild<QPushButton *>("pushButtonSave"));
        QVERIFY(f.dialog->findChild<QPushButton *>("pushButtonBrowse"));
        QCOMPARE(f.certificates->count(), 2);
        QCOMPARE(f.certificates->item(1)->text(), QString("CN=B"));
    }

    void saveOutcomes_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<int>("select");  // row to make current, -1 none
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("encrypts");
        QTest::newRow("no file name") << "" << false << 0 << "Please specify the file name for the data" << false << false;
        QTest::newRow("no file name, plain") << "" << true << -1 << "Please specify the file name for the data" << false << false;
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
        Fixture f(kLogText, {"CN=A", "CN=B"});
        const QString path = fileName.isEmpty() ? QString() : dir.filePath(fileName);
        f.fileName->setText(path);
        f.plain->setChecked(plain);
        if (select >= 0)
            f.certificates->setCurrentRow(select);
        QTest::mouseClick(f.dialog->findChild<QPushButton *>("pushButtonSave"), Qt::LeftButton);

        if (message.isEmpty()) {
            QVERIFY(f.op.messages.isEmpty());
        } else {
            QCOMPARE(f.op.messages.size(), 1);
            QCOMPARE(f.op.messages.first().title, QString("Velomark"));
            const QString expected = message.contains("%1") ? message.arg(path) : message;
            QVERIFY2(f.op.messages.first().text.startsWith(expected), qPrintable(f.op.messages.first().text));
        }
        QCOMPARE(f.accepted(), closes);
        QCOMPARE(f.calls.size(), encrypts ? 1 : 0);
        if (encrypts) {
            QCOMPARE(f.calls.first().data, kLogText);
            QCOMPARE(f.calls.first().certificateName, QString("CN=B"));
            QCOMPARE(f.calls.first().fileName, path);
        }
        if (plain && closes) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), kLogText);
        }
    }

    void browse()
    {
        Fixture f(kLogText, {});
        f.fileName->setText("/start/here.txt");
        f.op.fileNames.enqueue("/chosen/export.txt");
        QTest::mouseClick(f.dialog->findChild<QPushButton *>("pushButtonBrowse"), Qt::LeftButton);
        QCOMPARE(f.op.lastStartDir, QString("/start/here.txt"));
        QCOMPARE(f.fileName->text(), QString("/chosen/export.txt"));
        // Cancelled: the edit keeps its text.
        QTest::mouseClick(f.dialog->findChild<QPushButton *>("pushButtonBrowse"), Qt::LeftButton);
        QCOMPARE(f.fileName->text(), QString("/chosen/export.txt"));
        QVERIFY(f.dialog->isVisible());
    }

    void escapeDoesNotClose()
    {
        Fixture f(kLogText, {"CN=A"});
        QTest::keyClick(f.dialog.get(), Qt::Key_Escape);
        QVERIFY(f.dialog->isVisible());
    }
};

QTEST_MAIN(TestSaveData)
#include "tst_savedata.moc"
