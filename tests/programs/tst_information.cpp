// --version and --help of both programs: they answer and exit without a display, and the
// version they print is the one of the Windows version resource (resources/velomark.rc).
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include "clirun.h"

namespace {

// "VALUE "NAME", "TEXT"" of the version resource, read as text so the build's own values
// cannot vouch for themselves.
QString resourceValue(const QString &name)
{
    const QString rc = QString::fromUtf8(fileBytes(qEnvironmentVariable("VELOMARK_SOURCE_DIR")
                                                   + QStringLiteral("/resources/velomark.rc")));
    const QRegularExpression value(QStringLiteral("VALUE \"%1\", \"([^\"]*)\"").arg(name));
    return value.match(rc).captured(1);
}

}  // namespace

class TestInformation : public QObject
{
    Q_OBJECT

private slots:
    void answersWithoutWindow_data();
    void answersWithoutWindow();
};

void TestInformation::answersWithoutWindow_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");  // a regular expression for the whole output

    const QString version = QRegularExpression::escape(
        resourceValue(QStringLiteral("ProductName")) + QLatin1Char(' ')
        + resourceValue(QStringLiteral("ProductVersion")) + QLatin1Char('\n'));
    const QString app = qEnvironmentVariable("VELOMARK_APP");
    const QString cli = qEnvironmentVariable("VELOMARK_CLI");
    const QString anyText = QStringLiteral("[\\s\\S]*");

    QTest::newRow("window --version") << app << QStringList{"--version"} << "^" + version + "$";
    QTest::newRow("window -v") << app << QStringList{"-v"} << "^" + version + "$";
    // The version option is answered wherever it stands, before Qt sees the arguments.
    QTest::newRow("window -style X --version") << app << QStringList{"-style", "fusion", "--version"}
                                               << "^" + version + "$";
    QTest::newRow("window --help") << app << QStringList{"--help"}
                                   << "^Usage: velomark \\[QT-OPTIONS\\]\n" + anyText + "--version" + anyText
                                          + "VELOMARK_LIDARS" + anyText + "QT_LOGGING_RULES" + anyText;
    QTest::newRow("window -h") << app << QStringList{"-h"} << "^Usage: velomark " + anyText;
    QTest::newRow("cli --version") << cli << QStringList{"--version"} << "^" + version + "$";
    QTest::newRow("cli --help") << cli << QStringList{"--help"}
                                << "^Usage: velomark-cli COMMAND" + anyText + "\nExit status:\n  0 " + anyText
                                       + "\n  1 " + anyText + "\n  2 " + anyText + "\nEnvironment:\n  VELOMARK_LIDARS "
                                       + anyText + "\n  QT_LOGGING_RULES " + anyText;
}

void TestInformation::answersWithoutWindow()
{
    QFETCH(QString, program);
    QFETCH(QStringList, args);
    QFETCH(QString, expected);

    QVERIFY2(!resourceValue(QStringLiteral("ProductVersion")).isEmpty(), "no ProductVersion in velomark.rc");
    // With the X11 platform and no display, a program that opened a window would abort.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    QVERIFY2(process.waitForFinished(30000), "still running after 30 s");
    const QByteArray err = process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, err.constData());
    QVERIFY2(err.isEmpty(), err.constData());
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(QRegularExpression(expected).match(out).hasMatch(), qPrintable(out));
}

QTEST_GUILESS_MAIN(TestInformation)
#include "tst_information.moc"
