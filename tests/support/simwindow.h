#pragma once
// The window on a simulated lidar, for the window's tests (they link the app library).
#include <QTemporaryDir>
#include <QtTest>

#include "clirun.h"
#include "lidarsim.h"
#include "log/dumpreader.h"
#include "recordingoperator.h"
#include "vantrix.h"

// A window whose lidar list holds the simulated lidar, first and selected, with every day of
// its log shown.
struct SimWindow
{
    explicit SimWindow(const QStringList &simArgs = {}) : sim(simArgs) {}

    // Starts the simulator and lists it as `name`, before `others` ("NAME=PORT;...").
    bool start(const QString &name = QStringLiteral("VZQ Sim 54321"), const QString &others = QString())
    {
        if (!sim.start())
            return false;
        const QString listed = name + QLatin1Char('=') + sim.portPath();
        qputenv("VELOMARK_LIDARS", (others.isEmpty() ? listed : listed + QLatin1Char(';') + others).toUtf8());
        dialog.EnumeratePorts();
        dialog.form().checkBoxAll->setChecked(true);
        return true;
    }
    // Accepts dir/fileName as the data file of live runs.
    void chooseDataFile(const QString &fileName = QStringLiteral("live.txt"))
    {
        path = dir.filePath(fileName);
        op.fileNames.enqueue(path);
        dialog.OnBtnBrowseClicked();
        op.waitTexts.clear();  // discovery's
    }
    // Retrieve, then let the event loop run until the dump thread's end has been handled.
    bool retrieve()
    {
        op.waitTexts.clear();  // discovery's
        dialog.OnBtnRetrieveLogClicked();
        const bool ended = QTest::qWaitFor(
            [this] { return !op.waitOpen && !(dialog.dumpThread() && dialog.dumpThread()->isRunning()); }, 20000);
        QCoreApplication::processEvents();
        return ended;
    }

    const VantrixForm &ui() const { return dialog.form(); }
    int logRows() const { return ui().treeWidgetLoggedData->topLevelItemCount(); }
    int rows() const { return ui().treeWidgetLiveData->topLevelItemCount(); }
    QString text(int row, int column) const { return ui().treeWidgetLiveData->topLevelItem(row)->text(column); }

    LidarSim sim;
    RecordingOperator op;
    Vantrix dialog{&op};
    QTemporaryDir dir;
    QString path;  // the data file
};
