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
    SaveData dialog{nullptr, &op, kLogText, {"CN=A", "CN=B"},
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
        QTest::newRow("no certificate selected") << "out.enc" << false << -1 << "Digital certificate is not selected" << false << false;
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
        // What was typed stays for the next attempt.
        QCOMPARE(f.fileName->text(), path);
        if (plain && closes)
            QCOMPARE(fileBytes(path), kLogText);
    }

    // The file dialog offers encrypted files and gives a name without suffix theirs; a plain
    // export keeps the name as chosen.
    void browse_data()
    {
        QTest::addColumn<bool>("plain");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no suffix") << false << "/chosen/export" << "/chosen/export.p7m";
        QTest::newRow("own suffix") << false << "/chosen/export.der" << "/chosen/export.der";
        QTest::newRow("plain, no suffix") << true << "/chosen/export" << "/chosen/export";
        QTest::newRow("cancelled") << false << "" << "/start/here.txt";
    }
    void browse()
    {
        QFETCH(bool, plain);
        QFETCH(QString, chosen);
        QFETCH(QString, shown);
        Fixture f;
        f.fileName->setText("/start/here.txt");
        f.dialog.findChild<QCheckBox *>("checkBoxPlain")->setChecked(plain);
        if (!chosen.isEmpty())
            f.op.fileNames.enqueue(chosen);
        QTest::mouseClick(f.dialog.findChild<QPushButton *>("pushButtonBrowse"), Qt::LeftButton);
        QCOMPARE(f.op.lastStartDir, QString("/start/here.txt"));
        QVERIFY(f.op.lastFilter.startsWith("Encrypted data (*.p7m);;"));
        QCOMPARE(f.fileName->text(), shown);
    }

    // Escape closes the dialog as its close button does.
    void escapeCloses()
    {
        Fixture f;
        QTest::keyClick(&f.dialog, Qt::Key_Escape);
        QVERIFY(!f.dialog.isVisible());
        QCOMPARE(f.dialog.result(), int(QDialog::Rejected));
        QVERIFY(f.calls.isEmpty());
    }

    void soleCertificateIsSelected_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("selected");
        QTest::newRow("one") << QStringList{"CN=Only"} << 0;
        QTest::newRow("two") << QStringList{"CN=A", "CN=B"} << -1;
    }
    void soleCertificateIsSelected()
    {
        QFETCH(QStringList, names);
        QFETCH(int, selected);
        RecordingOperator op;
        SaveData dialog(nullptr, &op, kLogText, names, {});
        QCOMPARE(dialog.findChild<QListWidget *>("listWidgetCertificates")->currentRow(), selected);
    }

    // Without an operator of its own the dialog's message boxes belong to it, not to the
    // window behind it.
    void messagesParentedToTheDialog()
    {
        QWidget window;
        SaveData dialog(&window, nullptr, kLogText, {"CN=A"}, {});
        dialog.show();
        QWidget *parent = nullptr;
        QString text;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            parent = box->parentWidget();
            text = box->text();
            box->accept();
        });
        QTest::mouseClick(dialog.findChild<QPushButton *>("pushButtonSave"), Qt::LeftButton);
        QCOMPARE(text, QString("Please specify the file name for the data"));
        QCOMPARE(parent, &dialog);
    }
};

QTEST_MAIN(TestSaveData)
#include "tst_savedata.moc"
