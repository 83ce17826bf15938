#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/versioninfo.h"
#include "vantrix.h"

namespace {

// The text of --help; the manual page velomark(1) is made from it.
const char kHelp[] =
    "Usage: velomark [QT-OPTIONS]\n"
    "\n"
    "The Velomark data logger window for hand-held traffic-speed lidars: lists the lidars\n"
    "paired over Bluetooth, records live measurements into a CSV data file, retrieves,\n"
    "shows, saves and erases the log stored in a lidar, and exports saved data encrypted\n"
    "for a certificate. velomark-cli runs the same lidar, decoding, file and encryption code\n"
    "from the command line.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Shows this help and exits.\n"
    "  -v, --version  Prints the application name and version and exits.\n"
    "\n"
    "The standard Qt options (for example -platform NAME, -style NAME) are accepted.\n"
    "\n"
    "Environment:\n"
    "  VELOMARK_LIDARS   \"NAME=PORT;NAME=PORT\" lists these lidars instead of Bluetooth\n"
    "                    discovery (for the demo and tests).\n"
    "  QT_LOGGING_RULES  enables or silences the trace lines on standard error, one logging\n"
    "                    category per layer, for example \"velomark.*.debug=false\".\n";

// --help and --version are answered before any window system is opened, so they work
// without a display. Returns the exit code, or -1 when the window should start.
int answerInformationOption(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::string productVersion, companyName, productName;
            velomark::ReadVersionInfo(productVersion, companyName, productName);
            std::printf("%s %s\n", productName.c_str(), productVersion.c_str());
            return 0;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (const int exitCode = answerInformationOption(argc, argv); exitCode >= 0)
        return exitCode;

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    int exitCode = 0;
    {
        Vantrix dialog;
        dialog.setWindowFlags(dialog.windowFlags() | Qt::WindowMinimizeButtonHint);
        dialog.show();
        exitCode = app.exec();
    }
    return exitCode;
}
