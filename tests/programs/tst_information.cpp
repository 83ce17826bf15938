// --version and --help of both programs: they answer and exit without a display, and the
// version they print is the one of the Windows version resource (resources/velomark.rc).
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
    return QRegularExpression(QStringLiteral("VALUE \"%1\", \"([^\"]*)\"").arg(name)).match(rc).captured(1);
}

}  // namespace

class TestInformation : public QObject
{
    Q_OBJECT
private slots:
    void answersWithoutWindow_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");  // a regular expression for the whole output
        const QString product = resourceValue(QStringLiteral("ProductVersion"));
        QVERIFY2(!product.isEmpty(), "no ProductVersion in velomark.rc");
        const QString version =
            "^" + QRegularExpression::escape(resourceValue(QStringLiteral("ProductName")) + ' ' + product + '\n') + "$";
        const QString app = qEnvironmentVariable("VELOMARK_APP");
        const QString cli = qEnvironmentVariable("VELOMARK_CLI");
        const QString any = QStringLiteral("[\\s\\S]*");
        QTest::newRow("window --version") << app << QStringList{"--version"} << version;
        QTest::newRow("window -v") << app << QStringList{"-v"} << version;
        // The version option is answered wherever it stands, before Qt sees the arguments.
        QTest::newRow("window -style X --version") << app << QStringList{"-style", "fusion", "--version"} << version;
        QTest::newRow("window --help") << app << QStringList{"--help"}
                                       << "^Usage: velomark \\[QT-OPTIONS\\]\n" + any + "--version" + any
                                              + "VELOMARK_LIDARS" + any + "QT_LOGGING_RULES" + any;
        QTest::newRow("window -h") << app << QStringList{"-h"} << "^Usage: velomark " + any;
        QTest::newRow("cli --version") << cli << QStringList{"--version"} << version;
        QTest::newRow("cli --help") << cli << QStringList{"--help"}
                                    << "^Usage: velomark-cli COMMAND" + any + "\nExit status:\n  0 " + any + "\n  1 " + any
                                           + "\n  2 " + any + "\nEnvironment:\n  VELOMARK_LIDARS " + any
                                           + "\n  QT_LOGGING_RULES " + any;
    }
    void answersWithoutWindow()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        // With the X11 platform and no display, a program that opened a window would abort.
        const CliRun run = runProgram(program, args, {"QT_QPA_PLATFORM=xcb", "DISPLAY", "WAYLAND_DISPLAY"});
        QVERIFY2(run.exitCode == 0 && run.err.isEmpty(), run.err.constData());
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(QRegularExpression(expected).match(out).hasMatch(), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(TestInformation)
#include "tst_information.moc"
