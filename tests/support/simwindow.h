#pragma once
// The window on a simulated lidar, for the window's tests (they link the app library).
#include <QTemporaryDir>

#include <memory>

#include "lidarsim.h"
#include "recordingoperator.h"
#include "vantrix.h"

// A window whose lidar list holds the simulated lidar (first, selected) and another one,
// with an accepted data file.
struct LiveWindow
{
    QTemporaryDir dir;
    QString path;
    RecordingOperator op;
    std::unique_ptr<Vantrix> dialog;

    explicit LiveWindow(const LidarSim &sim, const QString &fileName = QStringLiteral("live.txt"))
        : path(dir.filePath(fileName))
    {
        qputenv("VELOMARK_LIDARS", QStringLiteral("VZQ Demo 4711=%1;VZQ Demo 9922=/dev/null")
                                       .arg(sim.portPath()).toUtf8());
        dialog = std::make_unique<Vantrix>(&op);
        dialog->EnumeratePorts();
        op.fileNames.enqueue(path);
        dialog->OnBtnBrowseClicked();
        op.waitTexts.clear();
    }
    const VantrixForm &ui() const { return dialog->form(); }
    int rows() const { return dialog->form().treeWidgetLiveData->topLevelItemCount(); }
    QString text(int row, int column) const { return ui().treeWidgetLiveData->topLevelItem(row)->text(column); }
};
