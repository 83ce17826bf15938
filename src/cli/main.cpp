#include <QApplication>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstring>
#include <memory>

#include "cli.h"
#include "common/operatorinterface.h"

namespace cli {

int runLidars(const QStringList &args);    // cmd_lidars.cpp
int runIdentify(const QStringList &args);  // cmd_identify.cpp
int runLive(const QStringList &args);      // cmd_live.cpp
int runRetrieve(const QStringList &args);  // cmd_retrieve.cpp
int runErase(const QStringList &args);     // cmd_erase.cpp
int runDecode(const QStringList &args);    // cmd_decode.cpp
int runCerts(const QStringList &args);     // cmd_certs.cpp
int runEncrypt(const QStringList &args);   // cmd_encrypt.cpp
int runPlot(const QStringList &args);      // cmd_plot.cpp
int runVerify(const QStringList &args);    // cmd_verify.cpp
int runStats(const QStringList &args);     // cmd_stats.cpp
int runSign(const QStringList &args);      // cmd_sign.cpp
int runReport(const QStringList &args);    // cmd_report.cpp

// Each command lives in a file of its own (cmd_*.cpp) and is listed here.
const QList<Command> &commands()
{
    static const QList<Command> table = {
        {"lidars", "Lists the paired lidars (Bluetooth discovery).", runLidars},
        {"identify", "Connects a lidar and prints its model family and firmware.", runIdentify},
        {"live", "Live acquisition into a live data file, each line printed as written.", runLive},
        {"retrieve", "Retrieves the log stored in a lidar and prints the log CSV.", runRetrieve},
        {"erase", "Erases the log stored in a lidar.", runErase},
        {"verify", "Checks a download record's signature and its files against their SHA-256.", runVerify},
        {"sign", "Signs a download record with a certificate of the certificate database.", runSign},
        {"decode", "Decodes a log dump file and prints the log CSV (or GPX).", runDecode},
        {"plot", "Draws the speed chart of a log dump file into a PNG or SVG.", runPlot},
        {"stats", "Prints the speed-study figures of a dump, a log CSV or a live data file.", runStats},
        {"report", "Writes the speed-study report of a dump, a log CSV or a live data file as a PDF.", runReport},
        {"certs", "Lists the subject names of the current user's certificates.", runCerts},
        {"encrypt", "Encrypts a file for one certificate (CMS enveloped data, DER).", runEncrypt},
    };
    return table;
}

}  // namespace cli

static int printHelp()
{
    cli::out() << "Usage: velomark-cli COMMAND [OPTIONS] [ARGS]\n\n"
               << "The command-line front end of the Velomark lidar data logger.\n\n"
               << "Commands:\n";
    for (const cli::Command &command : cli::commands())
        cli::out() << "  " << QString::fromLatin1(command.name).leftJustified(10) << command.summary << "\n";
    cli::out() << "\nGlobal options:\n"
               << "  --help      Shows this help; COMMAND --help describes a command.\n"
               << "  --version   Prints the application name and version.\n"
               << "  --trace     Writes trace lines to standard error.\n"
               << "\nExit status:\n"
               << "  0  success\n"
               << "  1  the operation failed or was abandoned (standard error says why)\n"
               << "  2  bad usage: unknown command or option, missing argument, unreadable dump file\n"
               << "     or download record (an unreadable input of encrypt is a failed operation: 1)\n"
               << "\nEnvironment:\n"
               << "  VELOMARK_LIDARS   \"NAME=PORT;NAME=PORT\" lists these lidars instead of Bluetooth\n"
               << "                    discovery (for the demo and tests).\n"
               << "  QT_LOGGING_RULES  enables or silences trace lines per logging category, for\n"
               << "                    example \"velomark.lidar.debug=true\" (with or without --trace).\n"
#ifdef Q_OS_WIN
               << "  LOCALAPPDATA      retrieve archives downloads in %LOCALAPPDATA%\\velomark\\downloads.\n";
#else
               << "  XDG_DATA_HOME     retrieve archives downloads in $XDG_DATA_HOME/velomark/downloads\n"
               << "                    (~/.local/share/velomark/downloads when it is not set).\n"
               << "  HOME              certs, encrypt and sign use the NSS database ~/.pki/nssdb when it\n"
               << "                    exists, else $XDG_DATA_HOME/pki/nssdb.\n";
#endif
    cli::out().flush();
    return cli::Success;
}

// Whether the command draws (plot, report): it needs the widgets' application, which then renders
// offscreen unless a platform is asked for.
static bool commandDraws(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--trace") != 0)
            return std::strcmp(argv[i], "plot") == 0 || std::strcmp(argv[i], "report") == 0;
    }
    return false;
}

int main(int argc, char *argv[])
{
    const bool draws = commandDraws(argc, argv);
#ifndef Q_OS_WIN
    // Windows needs no screen for drawing: every session has a desktop.
    if (draws && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    const std::unique_ptr<QCoreApplication> app(draws ? new QApplication(argc, argv)
                                                      : new QCoreApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral(VELOMARK_PRODUCT_NAME));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELOMARK_PRODUCT_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral(VELOMARK_COMPANY_NAME));

    QStringList args = QCoreApplication::arguments().mid(1);
    const bool trace = args.contains(QStringLiteral("--trace"));
    // Trace lines are the window's debug log; the command line shows them only on request.
    QLoggingCategory::setFilterRules(trace ? QStringLiteral("velomark.*.debug=true")
                                           : QStringLiteral("velomark.*.debug=false"));

    if (args.isEmpty())
        return cli::usageError(QStringLiteral("no command given"));
    const QString first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help"))
        return printHelp();
    if (first == QLatin1String("--version")) {
        cli::out() << QCoreApplication::applicationName() << ' '
                   << QCoreApplication::applicationVersion() << Qt::endl;
        return cli::Success;
    }
    if (first == QLatin1String("--trace") && args.size() > 1)
        args.move(0, 1);  // "--trace identify ..." reads as "identify --trace ..."
    for (const cli::Command &command : cli::commands()) {
        if (args.first() == QLatin1String(command.name))
            return command.run(args);
    }
    return cli::usageError(QStringLiteral("unknown command '%1'").arg(args.first()));
}
