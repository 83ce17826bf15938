#pragma once
#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QMap>
#include <QPointer>
#include <QString>

#include <memory>

#include "common/operatorinterface.h"
#include "crypto/encryptor.h"
#include "crypto/exportflow.h"
#include "lidar/lidarconnection.h"
#include "lidar/lidarentry.h"
#include "live/liveacquisition.h"
#include "live/livedatafile.h"
#include "live/speedrecord.h"
#include "log/downloadrecord.h"

class QCheckBox;
class QDateEdit;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QVBoxLayout;
class delayMsgDlg;
class MessageBoxOperator;
namespace velomark {
class rThread;
class SpeedChartPanel;
}

namespace velomark {
class ThreadReadDataDump;
}

// The widgets of the main dialog, named as the form names them.
struct VantrixForm
{
    QHBoxLayout *horizontalLayout_5 = nullptr;
    QTabWidget *tabWidgetData = nullptr;
    // Under the tabs: the connected lidar, a live run's progress, the file last saved.
    QVBoxLayout *verticalLayoutTabs = nullptr;
    QLabel *labelStatus = nullptr;
    QWidget *tabDataRetrieval = nullptr;
    QVBoxLayout *verticalLayout_5 = nullptr;
    QTreeWidget *treeWidgetLoggedData = nullptr;
    QHBoxLayout *horizontalLayout_19 = nullptr;
    QCheckBox *checkBoxAll = nullptr;
    QHBoxLayout *horizontalLayout_20 = nullptr;
    QHBoxLayout *horizontalLayout_21 = nullptr;
    QLabel *labelStartDate = nullptr;
    QDateEdit *dateEditStart = nullptr;
    QHBoxLayout *horizontalLayout_22 = nullptr;
    QLabel *labelEndDate = nullptr;
    QDateEdit *dateEditEnd = nullptr;
    QHBoxLayout *horizontalLayout_23 = nullptr;
    QPushButton *pushButtonEraseLaserData = nullptr;
    QPushButton *pushButtonSaveLog = nullptr;
    QPushButton *pushButtonRetrieveLog = nullptr;
    QWidget *tabVantrix = nullptr;
    QVBoxLayout *verticalLayout_4 = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    QTreeWidget *treeWidgetLiveData = nullptr;
    QHBoxLayout *horizontalLayout_4 = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QLabel *labelNote = nullptr;
    QLineEdit *lineEditNote = nullptr;
    QHBoxLayout *horizontalLayout_2 = nullptr;
    QLabel *labelDataFile = nullptr;
    QLineEdit *lineEditDataFile = nullptr;
    QPushButton *pushButtonDataFile = nullptr;
    QHBoxLayout *horizontalLayout_3 = nullptr;
    QPushButton *pushButtonStart = nullptr;
    // The "Speed Chart" tab.
    velomark::SpeedChartPanel *speedChart = nullptr;
    QVBoxLayout *verticalLayout_6 = nullptr;
    QVBoxLayout *verticalLayout_3 = nullptr;
    QLabel *labelLaser = nullptr;
    QListWidget *listWidgetLidars = nullptr;
    QVBoxLayout *verticalLayout_2 = nullptr;
    QPushButton *pushButtonRefresh = nullptr;
    QPushButton *pushButtonClear = nullptr;
    QPushButton *pushButtonLoadData = nullptr;
    QPushButton *pushButtonExit = nullptr;
};

// The main dialog: owns what lives longer than one operation (the port of the connected
// lidar, the live data file, the please-wait window, the lidar list) and its slots are the
// entry points of every operation.
class Vantrix : public QDialog
{
    Q_OBJECT
public:
    // Without an operator the dialog speaks through message boxes and its please-wait
    // window; the tests pass a recorder.
    explicit Vantrix(velomark::OperatorInterface *op = nullptr, QWidget *parent = nullptr);
    ~Vantrix() override;

    const VantrixForm &form() const { return ui; }
    delayMsgDlg *waitDialog() const { return delayDialog; }

    // Applies the one enabling rule of the controls.
    void UpdateControls();
    // Decides whether `dataFilePath` names a live data file and leaves it open for appending.
    void PrepareDataFile();
    // Adds a measurement's row to the live list and its line to the data file.
    void AppendLiveRecord(const velomark::SpeedRecord &record);

    // State shared by the operations of every area (public so that tests can set and check it).
    QByteArray logText;
    QByteArray dumpBuffer;
    QString pendingMessage;
    // The connection to the selected lidar: its one transport, the lidar list, the connected
    // lidar's name and identity.
    velomark::LidarConnection &connection() { return *lidarConnection; }
    qint32 outputFormat = 0;
    bool liveRunning = false;
    bool dataFileReady = false;
    QString liveNote;
    QString dataFilePath;
    QString messageTitle;
    QString liveCsvHeader;
    velomark::LiveDataFile dataFile;
    // The live reader: created by the first Start, restarted by later ones, deleted with the
    // dialog.
    velomark::rThread *liveReader = nullptr;
    // The current user's certificates (loaded at the first Show) and the export's encryption settings.
    velomark::CertificateList certificates;
    velomark::Encryptor encryptor;

signals:
    // Emitted each time discovery of the paired lidars begins.
    void enumeratePortsStarted();

public slots:
    void OnBtnStartClicked();
    void OnBtnExitClicked();
    void OnBtnClearClicked();
    void ParseSpeedData(QByteArray dataRead);
    void msgDisplay();
    void OnBtnBrowseClicked();
    void OnBtnSaveLogClicked();
    void OnBtnRetrieveLogClicked();
    void DumpThreadFinished();
    void OnBtnEraseLaserData();
    void OnBtnRefreshClicked();
    void EnumeratePorts();
    void OnListWidgetLidarsCurrentRowChanhed(int iCurItem);
    void OnBtnLoadDataClicked();
    // The live reader lost the port: acquisition ends and the operator is told once.
    void OnLivePortLost(QString error);
    // Cancel of the please-wait window during a download: the dump ends as a stop request
    // ends it, and what arrived is shown as incomplete.
    void CancelRetrieval();
    // The date filter or "Retrieve All Records" changed: the rows of the dump held are shown
    // again through the new filter, without asking the lidar.
    void RefilterLoggedData();

    // Switches remote mode off, closes the port and forgets the connected lidar.
    void CloseLidarPort();
    // Makes sure the selected lidar is the connected one; false when no port is open.
    bool ConnectSelectedLidar();

public:
    // Keeps the dump as "logDump.txt", decodes it and shows its rows behind the please-wait
    // window; the title marks a log that is incomplete.
    void DisplayLoggedData(bool incomplete = false);
    // Adds the rows of the records that pass the log tab's date filter, stamped with
    // lidarId, and puts the row count into the window title (marked when incomplete).
    void ShowLoggedRecords(const QVector<velomark::SpeedRecord> &records, const QString &lidarId,
                           bool incomplete = false);
    // The one dump reader; null until the first retrieval reaches the collection.
    velomark::ThreadReadDataDump *dumpThread() const { return dumpReader.get(); }

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void done(int result) override;

private:
    // Text of the current item of the lidar list; empty when no row is current.
    QString selectedLidarText() const;
    void setupUi();
    void retranslateUi();
    void connectSpeedChart();
    // Minimum widths from the texts; the initial size bounded by the available area of the
    // screen the window opens on.
    void fitTextsAndScreen();
    // Moves the window so that its frame lies inside the screen's available area where it fits.
    void keepOnScreen();
    // The texts of every row of a list, in list order.
    static QVector<QStringList> listRows(const QTreeWidget *list);
    void LoadCertificates();
public:
    // Encrypts `data` for the certificate whose subject is `certificateName` into `fileName`.
    void EncryptDataFile(const QByteArray &data, const QString &certificateName, const QString &fileName);
    // After a successful log CSV save: asks, then opens the export dialog on Yes.
    void OfferEncryptedExport();
private:
    // Steps of the shutdown order that end the readers, the data file and the connection;
    // safe to run more than once.
    void StopReadersAndPort();
    // Ends a running dump (its port comes back) and takes the lidar out of DIAG mode.
    void StopDumpReader();
    // Live acquisition back to "ready" (reader stopped, pending buffers written, file closed, a
    // lost link released and told); then the controls follow.
    void EndLiveRun();

    // What the running acquisition writes with every line (lidar, file name, note).
    velomark::LiveRun liveRun;
    // A scroll of the live list to its end waits for the event loop.
    bool liveScrollPending = false;
    // Set while a live run ends, so that a loss reported meanwhile does not end it twice.
    bool endingLiveRun = false;
    // The records of the dumps shown (one retrieved, or loaded one after another), each with the
    // Lidar_Id its rows carry, kept so that the date filter can be applied again; and whether
    // the last dump was cut short.
    struct HeldDump
    {
        QVector<velomark::SpeedRecord> records;
        QString lidarId;
    };
    QVector<HeldDump> heldDumps;
    bool heldIncomplete = false;
    // Adds the rows of a held dump that pass the date filter to the log list.
    void AddLoggedRows(const HeldDump &dump);
    // The count of the rows shown, and whether they are incomplete, in the title.
    void ShowRecordCount();
    // The widget that had the keyboard focus when a retrieval began; it gets it back.
    QPointer<QWidget> focusBeforeRetrieval;
    // The live run's clock and row count for the status line.
    QElapsedTimer liveClock;
    int liveRows = 0;
    QTimer *statusTimer = nullptr;
    QString lastSavedPath;
    // Writes the status line from the state.
    void UpdateStatus();
    // The lidar whose log the running or last retrieval pulls, as its record names it, and
    // when the download began.
    QString retrievalLidarName;
    velomark::DownloadLidar retrievalLidar;
    QDateTime retrievalStarted;
    // The record of the download shown; Save adds the files it writes.
    std::optional<velomark::DownloadRecord> shownRecord;
    // The last complete, archived download of each lidar (by list text) since the start: an
    // erase names it, and is added to it.
    QMap<QString, velomark::DownloadRecord> completeDownloads;
    // Keeps the dump that arrived in the archive with its record; the operator hears when that
    // fails.
    void ArchiveDownload(const velomark::DownloadResult &result);
    // Adds a saved file to the record of the download shown and signs the record with the
    // operator's one key; the line that tells how it went, empty without a record.
    QString RecordSavedFile(const QString &path, int rows);

    VantrixForm ui;
    velomark::OperatorInterface *op = nullptr;
    std::unique_ptr<MessageBoxOperator> ownOperator;
    delayMsgDlg *delayDialog = nullptr;
    std::unique_ptr<velomark::LidarConnection> lidarConnection;
    bool firstShowDone = false;
    std::unique_ptr<velomark::ThreadReadDataDump> dumpReader;
};
