// The window as the screenshots show it: a log dump file's records in the log list ("Retrieve
// All Records"), the chosen tab in front. For scripts/screenshot.sh only.
//   window-shot DUMP LIDAR-NAME TAB
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QTabWidget>

#include <cstdio>

#include "log/logdecoder.h"
#include "log/logrows.h"
#include "vantrix.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fputs("usage: window-shot DUMP LIDAR-NAME TAB\n", stderr);
        return 2;
    }
    QFile dump(args.at(1));
    if (!dump.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "window-shot: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    Vantrix dialog;
    dialog.form().checkBoxAll->setChecked(true);
    dialog.ShowLoggedRecords(velomark::decodeLogDump(dump.readAll()), velomark::lidarIdOf(args.at(2)));
    dialog.UpdateControls();
    dialog.form().tabWidgetData->setCurrentIndex(args.at(3).toInt());
    dialog.show();
    return app.exec();
}
