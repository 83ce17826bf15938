#include <QtTest>
#include <QtWidgets>

#include "recordingoperator.h"
#include "savedata.h"
#include "clirun.h"

namespace {

const QByteArray kLogText = "Speed,Speed_Unit\n57,KPH\n";

// The export dialog, shown, with what it handed to the encryption.
struct Fixture
{
    explicit Fixture(const QStringList &certificates = {"CN=A", "CN=B"}) : certificates(certificates) { dialog.show(); }
    const QStringList certificates;
    RecordingOperator op;
    QStringList calls;  // data, certificate and file name of each encryption
    SaveData dialog{nullptr, &op, kLogText, certificates,
                    [this](const QByteArray &d, const QString &n, const QString &f) { calls << d << n << f; }};
    QLineEdit *fileName = dialog.findChild<QLineEdit *>("lineEditFileName");
};

}  // namespace

class TestSaveData : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() { QCoreApplication::setApplicationName("Velomark"); }

    // The selection is the dialog's own where "select" is -2: none of two certificates, a sole one.
    // No file name: messagesParentedToTheDialog.
    void saveOutcomes_data()
    {
        QTest::addColumn<QStringList>("certificates");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<int>("select");  // row to make current, -1 none, -2 as the dialog chose
        QTest::addColumn<QString>("message");  // its start
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("recipient");  // empty: nothing encrypted
        const QStringList two{"CN=A", "CN=B"};
        QTest::newRow("no certificate selected") << two << "out.enc" << false << -2 << "Digital certificate is not selected"
                                                 << false << "";
        QTest::newRow("encrypt for the selection") << two << "out.enc" << false << 1 << "" << true << "CN=B";
        QTest::newRow("sole certificate selected") << QStringList{"CN=Only"} << "out.enc" << false << -2 << "" << true
                                                   << "CN=Only";
        QTest::newRow("plain written") << two << "plain.csv" << true << 1 << "" << true << "";
        QTest::newRow("plain unwritable") << two << "missing/plain.csv" << true << -1
                                          << "Open data file %1 failed with error: " << false << "";
    }
    void saveOutcomes()
    {
        QFETCH(QStringList, certificates);
        QFETCH(QString, fileName);
        QFETCH(bool, plain);
        QFETCH(int, select);
        QFETCH(QString, message);
        QFETCH(bool, closes);
        QFETCH(QString, recipient);
        Fixture f(certificates);
        const QString path = dir.filePath(fileName);
        f.fileName->setText(path);
        f.dialog.findChild<QCheckBox *>("checkBoxPlain")->setChecked(plain);
        if (select != -2)
            f.dialog.findChild<QListWidget *>("listWidgetCertificates")->setCurrentRow(select);
        QTest::mouseClick(f.dialog.findChild<QPushButton *>("pushButtonSave"), Qt::LeftButton);

        QCOMPARE(f.op.messages.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(f.op.messages.first().title, QString("Velomark"));
            QVERIFY2(f.op.messages.first().text.startsWith(message.replace("%1", path)), qPrintable(f.op.messages.first().text));
        }
        QCOMPARE(!f.dialog.isVisible() && f.dialog.result() == QDialog::Accepted, closes);
        QCOMPARE(f.calls, recipient.isEmpty() ? QStringList() : (QStringList{kLogText, recipient, path}));
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
        Fixture f;
        f.fileName->setText("/start/here.txt");
        f.dialog.findChild<QCheckBox *>("checkBoxPlain")->setChecked(plain);
        if (!chosen.isEmpty())
            f.op.fileNames.enqueue(chosen);
        QTest::mouseClick(f.dialog.findChild<QPushButton *>("pushButtonBrowse"), Qt::LeftButton);
        QCOMPARE(f.op.lastStartDir, QString("/start/here.txt"));
        QVERIFY(f.op.lastFilter.startsWith("Encrypted data (*.p7m);;"));
        QTEST(f.fileName->text(), "shown");
    }

    // Without an operator of its own the dialog's message boxes belong to it, not to the
    // window behind it. A Save without a file name is refused and leaves the dialog open;
    // Escape closes it as its close button does.
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
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(TestSaveData)
#include "tst_savedata.moc"
