#include "vantrix.h"

#include <optional>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShowEvent>
#include <QSpacerItem>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/trace.h"
#include "common/versioninfo.h"
#include "crypto/exportflow.h"
#include "crypto/recordsignature.h"
#include "lidar/diagnostics.h"
#include "lidar/discovery/discovery.h"
#include "live/livereader.h"
#include "live/liverecordparser.h"
#include "live/liverow.h"
#include "log/dumpreader.h"
#include "log/logdecoder.h"
#include "log/logfiles.h"
#include "log/logrows.h"
#include "log/retrieval.h"
#include "delaymsgdlg.h"
#include "messageboxoperator.h"
#include "savedata.h"
#include "speedchart.h"

namespace {

const char kIconPrefix[] = ":/Vantrix/Icons/";

// The size the window opens with when the screen has room for it.
constexpr QSize kInitialSize(1000, 672);
// What the window's frame (title bar, borders) takes of the screen's available area.
constexpr QSize kFrameAllowance(16, 40);

// Rows beyond the visible ones that the live list's header measures when it sizes its columns.
constexpr int kLiveHeaderPrecisionRows = 32;

QIcon formIcon(const char *name)
{
    return QIcon(QLatin1String(kIconPrefix) + QLatin1String(name));
}

QFont pointFont(int points)
{
    QFont font;
    font.setPointSize(points);
    return font;
}

// The three big buttons of the right column share their look.
void styleSideButton(QPushButton *button, const char *icon)
{
    button->setMinimumHeight(48);
    button->setFont(pointFont(14));
    button->setIcon(formIcon(icon));
    button->setIconSize(QSize(32, 32));
}

QStringList liveHeaders()
{
    return {QStringLiteral("   Speed   "),        QStringLiteral("   Range   "),
            QStringLiteral("   Moving Direction "), QStringLiteral("   LidarDate   "),
            QStringLiteral("   Lidar Time   "),   QStringLiteral(" GPS Latitude "),
            QStringLiteral(" GPS Longitude "),    QStringLiteral("   Lidar Serial Number")};
}

QStringList loggedHeaders()
{
    QStringList headers = liveHeaders();
    headers[3] = QStringLiteral("   Lidar Date   ");
    return headers;
}

}  // namespace

// The icons live in the static library, so the executable and the tests register them here.
static void initFormResources()
{
    Q_INIT_RESOURCE(velomark);
}

Vantrix::Vantrix(velomark::OperatorInterface *op_, QWidget *parent) : QDialog(parent), op(op_)
{
    initFormResources();
    setupUi();

    std::string productVersion, companyName, productName;
    velomark::ReadVersionInfo(productVersion, companyName, productName);
    QCoreApplication::setApplicationVersion(QString::fromStdString(productVersion));
    QCoreApplication::setApplicationName(QString::fromStdString(productName));
    QCoreApplication::setOrganizationName(QString::fromStdString(companyName));

    setWindowTitle(QCoreApplication::applicationName() + QLatin1Char(' ')
                   + QCoreApplication::applicationVersion());

    ui.treeWidgetLiveData->setHeaderLabels(liveHeaders());
    ui.treeWidgetLiveData->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Sizing to contents would otherwise measure every row of a long shift on each layout
    // pass; live rows all look alike, so the visible ones and a few more decide.
    ui.treeWidgetLiveData->header()->setResizeContentsPrecision(kLiveHeaderPrecisionRows);
    // All rows are one line high; the list need not measure each of them.
    ui.treeWidgetLiveData->setUniformRowHeights(true);
    ui.treeWidgetLoggedData->setUniformRowHeights(true);
    ui.treeWidgetLoggedData->setHeaderLabels(loggedHeaders());
    ui.treeWidgetLoggedData->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Every column as wide as its header and texts, the serial number's too: what does not fit
    // is scrolled to rather than cut.
    for (QTreeWidget *list : {ui.treeWidgetLoggedData, ui.treeWidgetLiveData})
        list->header()->setStretchLastSection(false);

    ui.listWidgetLidars->setStyleSheet(QStringLiteral("QListWidget::item:hover {background-color:lightGray;}"));

    messageTitle = velomark::kMessageTitle;
    liveCsvHeader = velomark::kLiveCsvHeader;
    ui.treeWidgetLiveData->setSortingEnabled(false);

    delayDialog = new delayMsgDlg(this);
    if (!op) {
        ownOperator = std::make_unique<MessageBoxOperator>(this, delayDialog);
        op = ownOperator.get();
    }
    lidarConnection = std::make_unique<velomark::LidarConnection>(*op);
    connect(lidarConnection.get(), &velomark::LidarConnection::controlsChanged, this, &Vantrix::UpdateControls);

    ui.dateEditStart->setDateTime(QDateTime::currentDateTime());
    ui.dateEditEnd->setDateTime(QDateTime::currentDateTime());
    velomark::configureExportEncryptor(encryptor);

    // Enter never presses a button the focused widget does not own: a dialog's push buttons
    // take Enter once they are the default, or auto-default and focused.
    for (QPushButton *button : findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(delayDialog, &delayMsgDlg::cancelRequested, this, &Vantrix::CancelRetrieval);
    connect(ui.dateEditStart, &QDateEdit::dateChanged, this, &Vantrix::RefilterLoggedData);
    connect(ui.dateEditEnd, &QDateEdit::dateChanged, this, &Vantrix::RefilterLoggedData);
    connect(ui.checkBoxAll, &QCheckBox::toggled, this, [this] {
        UpdateControls();
        RefilterLoggedData();
    });
    statusTimer = new QTimer(this);
    statusTimer->setInterval(1000);
    connect(statusTimer, &QTimer::timeout, this, &Vantrix::UpdateStatus);

    UpdateControls();
    fitTextsAndScreen();
}

namespace {

// Stands between the lidar and the name of the file loaded last in the title.
const QString kLoadedFileMark = QStringLiteral(" -- file ");

// The folders the operator used last, kept between runs in the platform's settings store.
QString rememberedFolder(const char *key, const QString &fallback = QString())
{
    const QString folder = QSettings().value(QStringLiteral("folders/") + QLatin1String(key)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : fallback;
}

void rememberFolder(const char *key, const QString &file)
{
    QSettings().setValue(QStringLiteral("folders/") + QLatin1String(key), QFileInfo(file).absolutePath());
}

// Gives the keyboard focus back to the widget that had it, in the window that had it: message
// boxes and the please-wait window take it away.
void restoreFocus(QWidget *widget)
{
    if (!widget || !widget->isVisible())
        return;
    widget->window()->activateWindow();
    widget->setFocus(Qt::OtherFocusReason);
}

// Restores the focus when an operation of a slot ends, whichever way it ends.
class FocusKeeper
{
public:
    explicit FocusKeeper(QWidget *window)
    {
        QWidget *focused = QApplication::focusWidget();
        if (focused && focused->window() == window)
            m_widget = focused;
    }
    ~FocusKeeper() { restoreFocus(m_widget); }
    FocusKeeper(const FocusKeeper &) = delete;
    FocusKeeper &operator=(const FocusKeeper &) = delete;

private:
    QPointer<QWidget> m_widget;
};

}  // namespace

void Vantrix::fitTextsAndScreen()
{
    // Widths given in the form are minimums: a button, label or date whose text needs more in
    // the font in use gets that, so that the layout never cuts a text.
    for (QWidget *widget : findChildren<QWidget *>()) {
        if (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QLabel *>(widget)
            || qobject_cast<QDateEdit *>(widget))
            widget->setMinimumWidth(qMax(widget->minimumWidth(), widget->sizeHint().width()));
    }
    const QScreen *const shownOn = screen();
    if (!shownOn)
        return;
    const QSize room = shownOn->availableGeometry().size() - kFrameAllowance;
    resize(kInitialSize.boundedTo(room).expandedTo(minimumSizeHint()));
}

void Vantrix::keepOnScreen()
{
    const QScreen *const shownOn = screen();
    if (!shownOn)
        return;
    const QRect available = shownOn->availableGeometry();
    const QRect frame = frameGeometry();
    const int x = qMax(available.left(), qMin(frame.left(), available.right() + 1 - frame.width()));
    const int y = qMax(available.top(), qMin(frame.top(), available.bottom() + 1 - frame.height()));
    if (x != frame.left() || y != frame.top())
        move(x, y);
}

Vantrix::~Vantrix()
{
    StopReadersAndPort();
    delete liveReader;
    liveReader = nullptr;
    delete delayDialog;
    delayDialog = nullptr;
    // The lists and the chart are deleted with the widgets, after this dialog has stopped
    // being one: the chart no longer follows them.
    for (QTreeWidget *list : {ui.treeWidgetLoggedData, ui.treeWidgetLiveData})
        list->model()->disconnect(this);
    ui.speedChart->disconnect(this);
}

void Vantrix::setupUi()
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("VantrixClass"));
    // The minimum size is the layout's, taken from the texts in the font in use; the initial
    // size is bounded by the screen (fitTextsAndScreen).
    resize(kInitialSize);
    setWindowIcon(formIcon("vantrix.ico"));

    QFont plainFont;
    plainFont.setBold(false);
    plainFont.setWeight(50);

    ui.horizontalLayout_5 = new QHBoxLayout(this);
    ui.horizontalLayout_5->setSpacing(9);
    ui.horizontalLayout_5->setObjectName(QStringLiteral("horizontalLayout_5"));
    ui.horizontalLayout_5->setContentsMargins(0, 3, 0, 6);

    ui.tabWidgetData = new QTabWidget(this);
    ui.tabWidgetData->setObjectName(QStringLiteral("tabWidgetData"));

    // The log tab.
    ui.tabDataRetrieval = new QWidget();
    ui.tabDataRetrieval->setObjectName(QStringLiteral("tabDataRetrieval"));
    ui.verticalLayout_5 = new QVBoxLayout(ui.tabDataRetrieval);
    ui.verticalLayout_5->setSpacing(9);
    ui.verticalLayout_5->setObjectName(QStringLiteral("verticalLayout_5"));
    ui.verticalLayout_5->setContentsMargins(0, 0, 0, 0);

    ui.treeWidgetLoggedData = new QTreeWidget(ui.tabDataRetrieval);
    ui.treeWidgetLoggedData->setObjectName(QStringLiteral("treeWidgetLoggedData"));
    ui.treeWidgetLoggedData->setColumnCount(8);
    ui.treeWidgetLoggedData->setMinimumWidth(609);
    // A font wider than the form's leaves the last columns (the serial number) to be scrolled to.
    ui.treeWidgetLoggedData->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ui.treeWidgetLoggedData->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui.treeWidgetLoggedData->setRootIsDecorated(false);
    ui.treeWidgetLoggedData->setUniformRowHeights(true);
    ui.treeWidgetLoggedData->setItemsExpandable(false);
    ui.treeWidgetLoggedData->setExpandsOnDoubleClick(false);
    ui.verticalLayout_5->addWidget(ui.treeWidgetLoggedData);

    ui.horizontalLayout_19 = new QHBoxLayout();
    ui.horizontalLayout_19->setSpacing(6);
    ui.horizontalLayout_19->setObjectName(QStringLiteral("horizontalLayout_19"));
    ui.horizontalLayout_19->setContentsMargins(3, -1, 3, -1);

    ui.checkBoxAll = new QCheckBox(ui.tabDataRetrieval);
    ui.checkBoxAll->setObjectName(QStringLiteral("checkBoxAll"));
    ui.checkBoxAll->setFont(plainFont);
    ui.horizontalLayout_19->addWidget(ui.checkBoxAll);
    ui.horizontalLayout_19->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    ui.horizontalLayout_20 = new QHBoxLayout();
    ui.horizontalLayout_20->setSpacing(18);
    ui.horizontalLayout_20->setObjectName(QStringLiteral("horizontalLayout_20"));
    ui.horizontalLayout_21 = new QHBoxLayout();
    ui.horizontalLayout_21->setSpacing(3);
    ui.horizontalLayout_21->setObjectName(QStringLiteral("horizontalLayout_21"));

    ui.labelStartDate = new QLabel(ui.tabDataRetrieval);
    ui.labelStartDate->setObjectName(QStringLiteral("labelStartDate"));
    ui.labelStartDate->setFont(plainFont);
    ui.horizontalLayout_21->addWidget(ui.labelStartDate);

    ui.dateEditStart = new QDateEdit(ui.tabDataRetrieval);
    ui.dateEditStart->setObjectName(QStringLiteral("dateEditStart"));
    ui.dateEditStart->setMinimumWidth(101);
    ui.dateEditStart->setFont(plainFont);
    ui.dateEditStart->setDateTime(QDateTime(QDate(2015, 10, 15), QTime(0, 0)));
    ui.dateEditStart->setCalendarPopup(true);
    ui.horizontalLayout_21->addWidget(ui.dateEditStart);
    ui.horizontalLayout_20->addLayout(ui.horizontalLayout_21);

    ui.horizontalLayout_22 = new QHBoxLayout();
    ui.horizontalLayout_22->setSpacing(3);
    ui.horizontalLayout_22->setObjectName(QStringLiteral("horizontalLayout_22"));

    ui.labelEndDate = new QLabel(ui.tabDataRetrieval);
    ui.labelEndDate->setObjectName(QStringLiteral("labelEndDate"));
    ui.labelEndDate->setFont(plainFont);
    ui.horizontalLayout_22->addWidget(ui.labelEndDate);

    ui.dateEditEnd = new QDateEdit(ui.tabDataRetrieval);
    ui.dateEditEnd->setObjectName(QStringLiteral("dateEditEnd"));
    ui.dateEditEnd->setMinimumWidth(101);
    ui.dateEditEnd->setFont(plainFont);
    ui.dateEditEnd->setDateTime(QDateTime(QDate(2015, 10, 15), QTime(0, 0)));
    ui.dateEditEnd->setCalendarPopup(true);
    ui.horizontalLayout_22->addWidget(ui.dateEditEnd);
    ui.horizontalLayout_20->addLayout(ui.horizontalLayout_22);
    ui.horizontalLayout_19->addLayout(ui.horizontalLayout_20);

    ui.horizontalLayout_23 = new QHBoxLayout();
    ui.horizontalLayout_23->setSpacing(3);
    ui.horizontalLayout_23->setObjectName(QStringLiteral("horizontalLayout_23"));

    ui.pushButtonEraseLaserData = new QPushButton(ui.tabDataRetrieval);
    ui.pushButtonEraseLaserData->setObjectName(QStringLiteral("pushButtonEraseLaserData"));
    ui.pushButtonEraseLaserData->setMinimumWidth(121);
    ui.pushButtonEraseLaserData->setIcon(formIcon("Trash.ico"));
    ui.horizontalLayout_23->addWidget(ui.pushButtonEraseLaserData);

    ui.pushButtonSaveLog = new QPushButton(ui.tabDataRetrieval);
    ui.pushButtonSaveLog->setObjectName(QStringLiteral("pushButtonSaveLog"));
    ui.pushButtonSaveLog->setEnabled(false);
    ui.pushButtonSaveLog->setMinimumWidth(55);
    ui.pushButtonSaveLog->setIcon(formIcon("SaveDump.ico"));
    ui.horizontalLayout_23->addWidget(ui.pushButtonSaveLog);

    ui.pushButtonRetrieveLog = new QPushButton(ui.tabDataRetrieval);
    ui.pushButtonRetrieveLog->setObjectName(QStringLiteral("pushButtonRetrieveLog"));
    ui.pushButtonRetrieveLog->setMinimumWidth(55);
    ui.pushButtonRetrieveLog->setIcon(formIcon("Document spreadsheet.ico"));
    ui.horizontalLayout_23->addWidget(ui.pushButtonRetrieveLog);
    ui.horizontalLayout_19->addLayout(ui.horizontalLayout_23);
    ui.verticalLayout_5->addLayout(ui.horizontalLayout_19);
    ui.tabWidgetData->addTab(ui.tabDataRetrieval, QString());

    // The live tab.
    ui.tabVantrix = new QWidget();
    ui.tabVantrix->setObjectName(QStringLiteral("tabVantrix"));
    ui.verticalLayout_4 = new QVBoxLayout(ui.tabVantrix);
    ui.verticalLayout_4->setSpacing(9);
    ui.verticalLayout_4->setObjectName(QStringLiteral("verticalLayout_4"));
    ui.verticalLayout_4->setContentsMargins(0, 0, 0, 0);
    ui.verticalLayout = new QVBoxLayout();
    ui.verticalLayout->setSpacing(6);
    ui.verticalLayout->setObjectName(QStringLiteral("verticalLayout"));

    ui.treeWidgetLiveData = new QTreeWidget(ui.tabVantrix);
    ui.treeWidgetLiveData->setObjectName(QStringLiteral("treeWidgetLiveData"));
    ui.treeWidgetLiveData->setColumnCount(7);
    ui.treeWidgetLiveData->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ui.treeWidgetLiveData->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui.treeWidgetLiveData->setDropIndicatorShown(false);
    ui.treeWidgetLiveData->setTextElideMode(Qt::ElideNone);
    ui.treeWidgetLiveData->setItemsExpandable(false);
    ui.treeWidgetLiveData->setExpandsOnDoubleClick(false);
    ui.verticalLayout->addWidget(ui.treeWidgetLiveData);
    ui.verticalLayout_4->addLayout(ui.verticalLayout);

    ui.horizontalLayout_4 = new QHBoxLayout();
    ui.horizontalLayout_4->setSpacing(12);
    ui.horizontalLayout_4->setObjectName(QStringLiteral("horizontalLayout_4"));
    ui.horizontalLayout_4->setContentsMargins(3, -1, 3, -1);
    ui.horizontalLayout = new QHBoxLayout();
    ui.horizontalLayout->setSpacing(3);
    ui.horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));

    ui.labelNote = new QLabel(ui.tabVantrix);
    ui.labelNote->setObjectName(QStringLiteral("labelNote"));
    ui.horizontalLayout->addWidget(ui.labelNote);
    ui.lineEditNote = new QLineEdit(ui.tabVantrix);
    ui.lineEditNote->setObjectName(QStringLiteral("lineEditNote"));
    ui.lineEditNote->setMinimumWidth(161);
    ui.horizontalLayout->addWidget(ui.lineEditNote);
    ui.horizontalLayout_4->addLayout(ui.horizontalLayout);

    ui.horizontalLayout_2 = new QHBoxLayout();
    ui.horizontalLayout_2->setSpacing(3);
    ui.horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    ui.labelDataFile = new QLabel(ui.tabVantrix);
    ui.labelDataFile->setObjectName(QStringLiteral("labelDataFile"));
    ui.horizontalLayout_2->addWidget(ui.labelDataFile);
    ui.lineEditDataFile = new QLineEdit(ui.tabVantrix);
    ui.lineEditDataFile->setObjectName(QStringLiteral("lineEditDataFile"));
    ui.lineEditDataFile->setMinimumWidth(181);
    ui.lineEditDataFile->setReadOnly(true);
    ui.horizontalLayout_2->addWidget(ui.lineEditDataFile);
    ui.pushButtonDataFile = new QPushButton(ui.tabVantrix);
    ui.pushButtonDataFile->setObjectName(QStringLiteral("pushButtonDataFile"));
    ui.pushButtonDataFile->setMinimumWidth(91);
    ui.pushButtonDataFile->setIcon(formIcon("select.ico"));
    ui.horizontalLayout_2->addWidget(ui.pushButtonDataFile);
    ui.horizontalLayout_4->addLayout(ui.horizontalLayout_2);

    ui.horizontalLayout_3 = new QHBoxLayout();
    ui.horizontalLayout_3->setSpacing(6);
    ui.horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    ui.pushButtonStart = new QPushButton(ui.tabVantrix);
    ui.pushButtonStart->setObjectName(QStringLiteral("pushButtonStart"));
    ui.pushButtonStart->setMinimumWidth(81);
    ui.pushButtonStart->setIcon(formIcon("Restart.ico"));
    ui.horizontalLayout_3->addWidget(ui.pushButtonStart);
    ui.horizontalLayout_4->addLayout(ui.horizontalLayout_3);
    ui.verticalLayout_4->addLayout(ui.horizontalLayout_4);
    ui.tabWidgetData->addTab(ui.tabVantrix, QString());

    // The chart tab: the rows of either list.
    ui.speedChart = new velomark::SpeedChartPanel([this](velomark::ChartRows kind) {
        return listRows(kind == velomark::ChartRows::Log ? ui.treeWidgetLoggedData : ui.treeWidgetLiveData);
    });
    ui.speedChart->setObjectName(QStringLiteral("tabSpeedChart"));
    ui.tabWidgetData->addTab(ui.speedChart, QString());
    ui.verticalLayoutTabs = new QVBoxLayout();
    ui.verticalLayoutTabs->setObjectName(QStringLiteral("verticalLayoutTabs"));
    ui.verticalLayoutTabs->addWidget(ui.tabWidgetData);
    ui.labelStatus = new QLabel(this);
    ui.labelStatus->setObjectName(QStringLiteral("labelStatus"));
    ui.labelStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui.verticalLayoutTabs->addWidget(ui.labelStatus);
    ui.horizontalLayout_5->addLayout(ui.verticalLayoutTabs);

    // The right column: lidar list and the big buttons.
    ui.verticalLayout_6 = new QVBoxLayout();
    ui.verticalLayout_6->setSpacing(6);
    ui.verticalLayout_6->setObjectName(QStringLiteral("verticalLayout_6"));
    ui.verticalLayout_6->setContentsMargins(-1, 6, 3, -1);
    ui.verticalLayout_3 = new QVBoxLayout();
    ui.verticalLayout_3->setSpacing(3);
    ui.verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));

    ui.labelLaser = new QLabel(this);
    ui.labelLaser->setObjectName(QStringLiteral("labelLaser"));
    ui.labelLaser->setFont(pointFont(12));
    ui.verticalLayout_3->addWidget(ui.labelLaser);

    ui.listWidgetLidars = new QListWidget(this);
    ui.listWidgetLidars->setObjectName(QStringLiteral("listWidgetLidars"));
    // The list takes the height the buttons leave; a small screen shortens it.
    ui.listWidgetLidars->setMinimumSize(141, 120);
    ui.listWidgetLidars->setMaximumWidth(201);
    ui.listWidgetLidars->setFont(pointFont(16));
    ui.listWidgetLidars->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui.listWidgetLidars->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui.listWidgetLidars->setDropIndicatorShown(false);
    ui.listWidgetLidars->setTextElideMode(Qt::ElideNone);
    ui.listWidgetLidars->setSpacing(1);
    ui.verticalLayout_3->addWidget(ui.listWidgetLidars);
    ui.verticalLayout_6->addLayout(ui.verticalLayout_3, 1);

    ui.verticalLayout_2 = new QVBoxLayout();
    ui.verticalLayout_2->setSpacing(6);
    ui.verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    ui.pushButtonRefresh = new QPushButton(this);
    ui.pushButtonRefresh->setObjectName(QStringLiteral("pushButtonRefresh"));
    styleSideButton(ui.pushButtonRefresh, "Refresh.ico");
    ui.verticalLayout_2->addWidget(ui.pushButtonRefresh);
    ui.pushButtonClear = new QPushButton(this);
    ui.pushButtonClear->setObjectName(QStringLiteral("pushButtonClear"));
    styleSideButton(ui.pushButtonClear, "Clean.ico");
    ui.verticalLayout_2->addWidget(ui.pushButtonClear);
    ui.pushButtonLoadData = new QPushButton(this);
    ui.pushButtonLoadData->setObjectName(QStringLiteral("pushButtonLoadData"));
    styleSideButton(ui.pushButtonLoadData, "LoadTable.ico");
    ui.verticalLayout_2->addWidget(ui.pushButtonLoadData);
    ui.pushButtonExit = new QPushButton(this);
    ui.pushButtonExit->setObjectName(QStringLiteral("pushButtonExit"));
    styleSideButton(ui.pushButtonExit, "Close.ico");
    ui.pushButtonExit->setMinimumWidth(81);
    ui.verticalLayout_2->addWidget(ui.pushButtonExit);
    ui.verticalLayout_6->addLayout(ui.verticalLayout_2);
    ui.horizontalLayout_5->addLayout(ui.verticalLayout_6);

    ui.labelNote->setBuddy(ui.lineEditNote);
    ui.labelDataFile->setBuddy(ui.lineEditDataFile);

    QWidget *const tabOrder[] = {
        ui.listWidgetLidars,      ui.pushButtonRefresh,        ui.pushButtonClear,
        ui.pushButtonLoadData,    ui.pushButtonExit,           ui.dateEditStart,
        ui.dateEditEnd,           ui.pushButtonEraseLaserData, ui.pushButtonSaveLog,
        ui.pushButtonRetrieveLog, ui.checkBoxAll,              ui.lineEditDataFile,
        ui.pushButtonDataFile,    ui.pushButtonStart,          ui.tabWidgetData,
        ui.treeWidgetLoggedData,  ui.treeWidgetLiveData,       ui.lineEditNote};
    for (size_t i = 1; i < sizeof tabOrder / sizeof tabOrder[0]; ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

    retranslateUi();
    ui.tabWidgetData->setCurrentIndex(0);

    connect(ui.pushButtonStart, &QPushButton::clicked, this, &Vantrix::OnBtnStartClicked);
    connect(ui.pushButtonExit, &QPushButton::clicked, this, &Vantrix::OnBtnExitClicked);
    connect(ui.pushButtonClear, &QPushButton::clicked, this, &Vantrix::OnBtnClearClicked);
    connect(ui.pushButtonDataFile, &QPushButton::clicked, this, &Vantrix::OnBtnBrowseClicked);
    connect(ui.pushButtonSaveLog, &QPushButton::clicked, this, &Vantrix::OnBtnSaveLogClicked);
    connect(ui.pushButtonRetrieveLog, &QPushButton::clicked, this, &Vantrix::OnBtnRetrieveLogClicked);
    connect(ui.pushButtonEraseLaserData, &QPushButton::clicked, this, &Vantrix::OnBtnEraseLaserData);
    connect(ui.pushButtonRefresh, &QPushButton::clicked, this, &Vantrix::OnBtnRefreshClicked);
    connect(ui.pushButtonLoadData, &QPushButton::clicked, this, &Vantrix::OnBtnLoadDataClicked);
    connect(ui.listWidgetLidars, &QListWidget::currentRowChanged, this,
            &Vantrix::OnListWidgetLidarsCurrentRowChanhed);
    connectSpeedChart();
    QMetaObject::connectSlotsByName(this);
}

QVector<QStringList> Vantrix::listRows(const QTreeWidget *list)
{
    QVector<QStringList> rows;
    const int count = list->topLevelItemCount();
    const int columns = list->columnCount();
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QTreeWidgetItem *item = list->topLevelItem(i);
        QStringList row;
        row.reserve(columns);
        for (int column = 0; column < columns; ++column)
            row.append(item->text(column));
        rows.append(row);
    }
    return rows;
}

void Vantrix::connectSpeedChart()
{
    // The chart follows its list: filled, cleared, or a live row added at the end.
    for (QTreeWidget *list : {ui.treeWidgetLoggedData, ui.treeWidgetLiveData}) {
        const velomark::ChartRows kind =
            list == ui.treeWidgetLoggedData ? velomark::ChartRows::Log : velomark::ChartRows::Live;
        QAbstractItemModel *model = list->model();
        connect(model, &QAbstractItemModel::modelReset, this, [this, kind] { ui.speedChart->listChanged(kind); });
        connect(model, &QAbstractItemModel::rowsRemoved, this, [this, kind] { ui.speedChart->listChanged(kind); });
        connect(model, &QAbstractItemModel::rowsInserted, this,
                [this, kind, list](const QModelIndex &, int first, int last) {
                    const bool atEnd = last == list->topLevelItemCount() - 1;
                    if (kind != velomark::ChartRows::Live || first != last || !atEnd) {
                        ui.speedChart->listChanged(kind);
                        return;
                    }
                    const QTreeWidgetItem *item = list->topLevelItem(first);
                    QStringList row;
                    for (int column = 0; column < list->columnCount(); ++column)
                        row.append(item->text(column));
                    ui.speedChart->liveRowAdded(row);
                });
    }
    // Save Chart and Save Report ask through the window's operator; a report of the log list
    // names its date filter and the download shown, with its evidence.
    ui.speedChart->setOperator(op);
    ui.speedChart->setReportFacts([this](velomark::ChartRows kind, velomark::SpeedReport *report) {
        if (kind != velomark::ChartRows::Log)
            return;
        if (!ui.checkBoxAll->isChecked())
            report->filter = velomark::filterText(
                velomark::LogDateFilter::between(ui.dateEditStart->date(), ui.dateEditEnd->date()));
        if (shownRecord) {
            report->lidarName = shownRecord->facts.lidar.name;
            report->record = velomark::speedReportRecord(shownRecord->path, shownRecord->dumpSha256, true);
        }
    });
    connect(ui.speedChart, &velomark::SpeedChartPanel::rowClicked, this, [this](velomark::ChartRows kind, int row) {
        QTreeWidget *list = kind == velomark::ChartRows::Log ? ui.treeWidgetLoggedData : ui.treeWidgetLiveData;
        if (QTreeWidgetItem *item = list->topLevelItem(row)) {
            list->setCurrentItem(item);
            list->scrollToItem(item);
        }
    });
}

void Vantrix::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("VantrixClass", "Veltrazon Velomark"));
    ui.checkBoxAll->setText(QCoreApplication::translate("VantrixClass", "Retrieve All Records"));
    ui.labelStartDate->setText(QCoreApplication::translate("VantrixClass", "Start Date"));
    ui.labelEndDate->setText(QCoreApplication::translate("VantrixClass", "End Date"));
    ui.pushButtonEraseLaserData->setText(QCoreApplication::translate("VantrixClass", "Delete Laser Data"));
    ui.pushButtonSaveLog->setText(QCoreApplication::translate("VantrixClass", "Save ..."));
    ui.pushButtonRetrieveLog->setText(QCoreApplication::translate("VantrixClass", "Retrieve"));
    ui.tabWidgetData->setTabText(ui.tabWidgetData->indexOf(ui.tabDataRetrieval),
                                 QCoreApplication::translate("VantrixClass", "Laser Data Log"));
    ui.labelNote->setText(QCoreApplication::translate("VantrixClass", "Free Note"));
    ui.labelDataFile->setText(QCoreApplication::translate("VantrixClass", "Data File"));
    ui.pushButtonDataFile->setText(QCoreApplication::translate("VantrixClass", " Data File ..."));
    ui.pushButtonStart->setText(QCoreApplication::translate("VantrixClass", "Start"));
    ui.tabWidgetData->setTabText(ui.tabWidgetData->indexOf(ui.tabVantrix),
                                 QCoreApplication::translate("VantrixClass", "Laser Live Data"));
    ui.tabWidgetData->setTabText(ui.tabWidgetData->indexOf(ui.speedChart),
                                 QCoreApplication::translate("VantrixClass", "Speed Chart"));
    ui.labelLaser->setText(QCoreApplication::translate("VantrixClass", "Lidar Selection"));
    ui.pushButtonRefresh->setText(QCoreApplication::translate("VantrixClass", "Refresh Lidars"));
    ui.pushButtonClear->setText(QCoreApplication::translate("VantrixClass", "Clear Display"));
    ui.pushButtonLoadData->setText(QCoreApplication::translate("VantrixClass", "Load Data File ..."));
    ui.pushButtonExit->setText(QCoreApplication::translate("VantrixClass", "Exit"));
}

void Vantrix::UpdateControls()
{
    ui.pushButtonStart->setText(liveRunning ? QStringLiteral("Stop") : QStringLiteral("Start"));
    ui.pushButtonStart->setEnabled(dataFileReady);

    const bool idle = !liveRunning;
    ui.pushButtonDataFile->setEnabled(idle);
    ui.lineEditNote->setEnabled(idle);
    ui.tabDataRetrieval->setEnabled(idle);
    ui.pushButtonRefresh->setEnabled(idle);

    ui.pushButtonSaveLog->setEnabled(ui.treeWidgetLoggedData->topLevelItemCount() > 0);
    // The dates mean nothing while every record is wanted.
    ui.dateEditStart->setEnabled(!ui.checkBoxAll->isChecked());
    ui.dateEditEnd->setEnabled(!ui.checkBoxAll->isChecked());
    UpdateStatus();
}

void Vantrix::UpdateStatus()
{
    QStringList parts;
    if (lidarConnection && lidarConnection->isOpen() && !lidarConnection->connectedLidarName.isEmpty())
        parts << QStringLiteral("Lidar %1: type %2, firmware %3, %4")
                     .arg(lidarConnection->connectedLidarName)
                     .arg(lidarConnection->lidarType)
                     .arg(lidarConnection->firmwareText(), lidarConnection->transport()->description());
    else
        parts << QStringLiteral("No lidar connected");
    if (liveRunning) {
        const qint64 seconds = liveClock.elapsed() / 1000;
        parts << QStringLiteral("Live: %1 rows, %2:%3 elapsed, data file %4")
                     .arg(liveRows)
                     .arg(seconds / 60)
                     .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                     .arg(dataFilePath);
    }
    if (!lastSavedPath.isEmpty())
        parts << QStringLiteral("Saved %1").arg(lastSavedPath);
    ui.labelStatus->setText(parts.join(QStringLiteral("  |  ")));
}

void Vantrix::showEvent(QShowEvent *event)
{
    // Only the first Show looks for lidars; restoring a minimised window must not.
    if (event->type() == QEvent::Show && !firstShowDone) {
        QTimer::singleShot(300, this, &Vantrix::EnumeratePorts);
        firstShowDone = true;
        // Once the window system has placed the window: its frame inside the screen's area.
        QTimer::singleShot(0, this, &Vantrix::keepOnScreen);
        LoadCertificates();
    }
    QDialog::showEvent(event);
}

void Vantrix::keyPressEvent(QKeyEvent *event)
{
    // Escape would reject the dialog and end the program; the operator leaves through Exit.
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}

void Vantrix::done(int result)
{
    // Exit and the window's close button (which rejects) end the program the same way.
    StopReadersAndPort();
    QDialog::done(result);
}

void Vantrix::StopReadersAndPort()
{
    StopDumpReader();
    // Live acquisition ends (reader stopped, its file closed) before the lidar leaves remote
    // mode and its port closes.
    const bool readerEnded = velomark::stopLiveReaderForShutdown(liveReader);
    if (liveRunning) {
        // A terminated reader may have been cut off mid-buffer; only a clean end hands over
        // what it read.
        if (readerEnded) {
            EndLiveRun();
        } else {
            dataFile.close();
            liveRunning = false;
        }
    }
    CloseLidarPort();
}

void Vantrix::EndLiveRun()
{
    endingLiveRun = true;
    velomark::endLiveRun(*lidarConnection, liveReader, this, dataFile, liveRun.lidarName(), *op);
    endingLiveRun = false;
    liveRunning = false;
    statusTimer->stop();
    UpdateControls();
}

void Vantrix::CloseLidarPort()
{
    if (lidarConnection)
        lidarConnection->CloseLidarPort();
}

bool Vantrix::ConnectSelectedLidar()
{
    return lidarConnection->ConnectSelectedLidar(selectedLidarText());
}

QString Vantrix::selectedLidarText() const
{
    const QListWidgetItem *item = ui.listWidgetLidars->currentItem();
    return item ? item->text() : QString();
}

void Vantrix::LoadCertificates()
{
    velomark::loadCertificates(*op, certificates);
}

void Vantrix::EncryptDataFile(const QByteArray &data, const QString &certificateName, const QString &fileName)
{
    velomark::encryptDataFile(*op, encryptor, certificates, data, certificateName, fileName);
}

void Vantrix::OfferEncryptedExport()
{
    if (!velomark::askForEncryptedExport(*op))
        return;
    // The export dialog's own messages and file dialog are parented to it; an operator given
    // from outside (a test's) tells them instead.
    SaveData dialog(this, ownOperator ? nullptr : op, logText, velomark::certificateNames(certificates),
                    [this](const QByteArray &data, const QString &name, const QString &file) {
                        EncryptDataFile(data, name, file);
                    });
    dialog.exec();
}

void Vantrix::OnBtnStartClicked()
{
    const FocusKeeper focus(this);
    if (liveRunning) {
        op->showWait(QStringLiteral("Stopping lidar target acquisition, please wait ..."));
        EndLiveRun();
        op->closeWait();
        return;
    }

    const velomark::LiveStartResult start =
        velomark::startLiveAcquisition(*lidarConnection, selectedLidarText(), dataFile, [this] {
            if (!liveReader) {
                liveReader = new velomark::rThread;
                connect(liveReader, &velomark::rThread::speed_disp, this, &Vantrix::ParseSpeedData,
                        Qt::QueuedConnection);
                connect(liveReader, &velomark::rThread::portLost, this, &Vantrix::OnLivePortLost,
                        Qt::QueuedConnection);
            }
            return liveReader;
        });
    if (start.outputFormat)
        outputFormat = *start.outputFormat;
    if (!start.started) {
        UpdateControls();
        return;
    }
    liveNote = ui.lineEditNote->text();
    // The measurements carry the lidar that is connected, whatever row is selected later.
    liveRun = velomark::LiveRun(lidarConnection->connectedLidarName, dataFilePath, liveNote);
    liveRunning = true;
    liveRows = 0;
    liveClock.start();
    statusTimer->start();
    op->closeWait();
    UpdateControls();
}

void Vantrix::OnLivePortLost(QString error)
{
    Q_UNUSED(error)
    // A run that Stop or shutdown already ended, or is ending, has nothing left to end.
    if (!liveRunning || endingLiveRun)
        return;
    EndLiveRun();
}

void Vantrix::OnBtnExitClicked()
{
    StopReadersAndPort();
    done(QDialog::Accepted);
}

void Vantrix::OnBtnClearClicked()
{
    const int tab = ui.tabWidgetData->currentIndex();
    if (tab == ui.tabWidgetData->indexOf(ui.tabDataRetrieval)) {
        if (ui.treeWidgetLoggedData->topLevelItemCount() > 0
            && op->ask(velomark::applicationTitle(), QStringLiteral("Do you want to clear the logged data ?"))) {
            ui.treeWidgetLoggedData->clear();
            heldDumps.clear();
            // An empty list has nothing to save and no record count.
            setWindowTitle(velomark::titleWithoutRecordCount(windowTitle()));
            UpdateControls();
        }
    } else if (tab == ui.tabWidgetData->indexOf(ui.tabVantrix)) {
        if (ui.treeWidgetLiveData->topLevelItemCount() > 0
            && op->ask(messageTitle, QStringLiteral("Do you want to clear the display content ?")))
            ui.treeWidgetLiveData->clear();
    }
}

void Vantrix::ParseSpeedData(QByteArray dataRead)
{
    if (const std::optional<velomark::SpeedRecord> record =
            velomark::parseLiveRecord(dataRead, QDateTime::currentDateTime()))
        AppendLiveRecord(*record);
}

void Vantrix::AppendLiveRecord(const velomark::SpeedRecord &record)
{
    auto *item = new QTreeWidgetItem(liveRun.rowTexts(record));
    for (int column = 0; column < velomark::kLiveColumnCount; ++column)
        item->setTextAlignment(column, int(velomark::liveColumnAlignment(column)));
    ui.treeWidgetLiveData->addTopLevelItem(item);
    // Scrolling lays the list out; a lidar that sends many records at once needs that once
    // for all of them, when the event loop is back.
    if (!liveScrollPending) {
        liveScrollPending = true;
        QTimer::singleShot(0, this, [this] {
            liveScrollPending = false;
            ui.treeWidgetLiveData->scrollToBottom();
        });
    }

    // A buffer that arrives after its run ended is shown, but the closed file takes no line.
    if (liveRunning) {
        liveRun.write(dataFile, liveRun.dataLine(record), *op);
        ++liveRows;
    }
}

void Vantrix::msgDisplay()
{
    if (pendingMessage.isEmpty())
        return;
    op->inform(velomark::applicationTitle(), pendingMessage);
    pendingMessage.clear();
}

void Vantrix::OnBtnBrowseClicked()
{
    const int separator = dataFilePath.lastIndexOf(QDir::separator());
    const QString startDir = !dataFilePath.isEmpty() ? (separator < 0 ? dataFilePath : dataFilePath.left(separator))
                                                     : rememberedFolder("dataFile");
    const QString chosen = op->chooseSaveFile(messageTitle, startDir,
                                              QStringLiteral("CSV files (*.csv *.txt);;All Files (*.*)"),
                                              /*confirmOverwrite=*/false);
    // A cancelled dialog keeps the data file in use, and its name in every later line.
    if (chosen.isEmpty())
        return;

    dataFilePath = QDir::toNativeSeparators(chosen);
    rememberFolder("dataFile", chosen);
    ui.lineEditDataFile->setText(dataFilePath);
    PrepareDataFile();
    UpdateControls();
}

void Vantrix::PrepareDataFile()
{
    dataFileReady = dataFile.prepare(dataFilePath, *op);
}

void Vantrix::OnBtnSaveLogClicked()
{
    const FocusKeeper focus(this);
    const QVector<velomark::LogRow> rows = listRows(ui.treeWidgetLoggedData);
    const QString proposal = QDir(rememberedFolder("save")).filePath(velomark::proposedLogFileName(rows));
    QString saved;
    const velomark::LogSaveOutcome outcome =
        velomark::saveLogRows(rows, proposal, *op, &logText, &saved,
                              [this, &rows](const QString &path) { return RecordSavedFile(path, rows.size()); });
    if (!saved.isEmpty()) {
        rememberFolder("save", saved);
        lastSavedPath = saved;
        UpdateStatus();
    }
    if (outcome == velomark::LogSaveOutcome::Saved)
        OfferEncryptedExport();
}

QString Vantrix::RecordSavedFile(const QString &path, int rows)
{
    // The record of the download shown names every file made from it.
    if (!shownRecord)
        return QString();
    const QString error = velomark::addSavedFile(*shownRecord, path, rows);
    if (!error.isEmpty())
        return QStringLiteral("The download record was not updated: %1").arg(error);
    if (completeDownloads.contains(retrievalLidarName)
        && completeDownloads.value(retrievalLidarName).path == shownRecord->path)
        completeDownloads.insert(retrievalLidarName, *shownRecord);
    // The operator's one key signs the record; with none, or several to choose from, it stays
    // unsigned and the operator hears why.
    const velomark::PinPrompt prompt = [this](const std::string &token, bool retry) -> std::optional<std::string> {
        const std::optional<QString> pin = op->askSecret(
            velomark::applicationTitle(),
            (retry ? QStringLiteral("Wrong password. ") : QString())
                + QStringLiteral("Password or PIN for %1:").arg(QString::fromStdString(token)));
        if (!pin)
            return std::nullopt;
        return pin->toStdString();
    };
    const QString recordName = QFileInfo(shownRecord->path).fileName();
    const velomark::OnlySigner signer = velomark::onlySigningNickname(prompt);
    if (!signer.nickname)
        return QStringLiteral("The download record %1 is not signed: %2").arg(recordName, signer.reason);
    const QString signError = velomark::signRecordFile(shownRecord->path, *signer.nickname, prompt);
    if (!signError.isEmpty())
        return QStringLiteral("The download record %1 is not signed: %2").arg(recordName, signError);
    return QStringLiteral("The download record %1 is signed with %2").arg(recordName, *signer.nickname);
}

void Vantrix::OnBtnRetrieveLogClicked()
{
    // Nothing goes to the lidar for a range that holds no day.
    if (!ui.checkBoxAll->isChecked() && ui.dateEditStart->date() > ui.dateEditEnd->date()) {
        const FocusKeeper focus(this);
        op->inform(velomark::applicationTitle(), QStringLiteral("The start date is after the end date"));
        return;
    }
    focusBeforeRetrieval = QApplication::focusWidget();
    op->showWait(QStringLiteral("Preparing lidar for data retrieval, please wait ..."));
    heldDumps.clear();
    if (ui.treeWidgetLoggedData->topLevelItemCount() > 0)
        ui.treeWidgetLoggedData->clear();
    if (velomark::prepareRetrieval(*lidarConnection, selectedLidarText(), *op) != velomark::PrepareOutcome::Ready) {
        UpdateControls();
        restoreFocus(focusBeforeRetrieval);
        return;
    }
    if (!dumpReader) {
        dumpReader = std::make_unique<velomark::ThreadReadDataDump>(dumpBuffer, pendingMessage);
        connect(dumpReader.get(), &QThread::finished, this, &Vantrix::DumpThreadFinished);
        connect(dumpReader.get(), &velomark::ThreadReadDataDump::progress, this,
                [this](qint64 bytes, qint64 lines) { op->waitProgress(bytes, lines); });
    }
    op->setWaitText(QStringLiteral("Retrieving logged data from lidar, please wait ..."));
    // The rows carry the lidar the log came from, whatever becomes of the connection.
    retrievalLidarName = lidarConnection->connectedLidarName;
    retrievalLidar = velomark::downloadLidarOf(*lidarConnection, retrievalLidarName);
    retrievalStarted = QDateTime::currentDateTimeUtc();
    // The link of this connection, never one kept from an earlier retrieval.
    dumpReader->startDump(*lidarConnection->transport());
    delayDialog->setCancellable(true);
}

void Vantrix::CancelRetrieval()
{
    if (!dumpReader || !dumpReader->isRunning())
        return;
    delayDialog->setCancellable(false);
    op->setWaitText(QStringLiteral("Stopping the download, please wait ..."));
    dumpReader->requestStop();
}

void Vantrix::DumpThreadFinished()
{
    if (!dumpReader)
        return;
    dumpReader->wait();
    delayDialog->setCancellable(false);
    const velomark::DownloadResult result =
        velomark::finishDownload(*lidarConnection, *dumpReader, retrievalLidarName, pendingMessage, *op,
                                 [this](bool incomplete) { DisplayLoggedData(incomplete); });
    ArchiveDownload(result);
    UpdateControls();
    restoreFocus(focusBeforeRetrieval);
}

void Vantrix::ArchiveDownload(const velomark::DownloadResult &result)
{
    shownRecord.reset();
    if (dumpBuffer.isEmpty())
        return;
    velomark::DownloadFacts facts;
    facts.lidar = retrievalLidar;
    facts.started = retrievalStarted;
    facts.finished = QDateTime::currentDateTimeUtc();
    facts.end = velomark::downloadEndText(result.end, false);
    facts.diagnosticModeLeft = result.diagnosticModeLeft;
    if (!ui.checkBoxAll->isChecked())
        facts.filter = velomark::LogDateFilter::between(ui.dateEditStart->date(), ui.dateEditEnd->date());
    const velomark::ArchiveResult archived =
        velomark::archiveDownload(velomark::defaultDownloadArchive(), dumpBuffer, facts);
    if (!archived.error.isEmpty()) {
        op->inform(velomark::applicationTitle(),
                   QStringLiteral("The download could not be archived: %1").arg(archived.error));
        return;
    }
    shownRecord = archived.record;
    if (result.end == velomark::DownloadEnd::Complete && result.diagnosticModeLeft)
        completeDownloads.insert(retrievalLidarName, archived.record);
}

void Vantrix::DisplayLoggedData(bool incomplete)
{
    op->showWait(QStringLiteral("Parsing logged data, please wait ..."));
    heldDumps.clear();
    if (ui.treeWidgetLoggedData->topLevelItemCount() > 0)
        ui.treeWidgetLoggedData->clear();
    // The copy on disk is a convenience; the display goes on without it.
    const velomark::FileWriteResult kept = velomark::writeLogDump(dumpBuffer);
    if (!kept.ok)
        velomark::trace(lcLog(), velomark::kLogDumpFileName + QStringLiteral(": ") + kept.errorString);
    QVector<velomark::SpeedRecord> records;
    velomark::DecodeLogDump(dumpBuffer, records);
    ShowLoggedRecords(records, velomark::lidarIdOf(retrievalLidarName), incomplete);
}

void Vantrix::ShowLoggedRecords(const QVector<velomark::SpeedRecord> &records, const QString &lidarId,
                                bool incomplete)
{
    heldDumps.append({records, lidarId});
    heldIncomplete = incomplete;
    AddLoggedRows(heldDumps.last());
    ShowRecordCount();
}

void Vantrix::RefilterLoggedData()
{
    // While the operator edits a date the range may hold no day for a moment; the rows stay.
    if (heldDumps.isEmpty()
        || (!ui.checkBoxAll->isChecked() && ui.dateEditStart->date() > ui.dateEditEnd->date()))
        return;
    if (ui.treeWidgetLoggedData->topLevelItemCount() > 0)
        ui.treeWidgetLoggedData->clear();
    for (const HeldDump &dump : qAsConst(heldDumps))
        AddLoggedRows(dump);
    ShowRecordCount();
}

void Vantrix::AddLoggedRows(const HeldDump &dump)
{
    const velomark::LogDateFilter filter =
        ui.checkBoxAll->isChecked()
            ? velomark::LogDateFilter::all()
            : velomark::LogDateFilter::between(ui.dateEditStart->date(), ui.dateEditEnd->date());
    const QVector<velomark::LogRow> rows = velomark::logRows(dump.records, filter, dump.lidarId);
    QList<QTreeWidgetItem *> items;
    items.reserve(rows.size());
    for (const velomark::LogRow &row : rows) {
        auto *item = new QTreeWidgetItem(row);
        for (int column = 0; column < velomark::LogColumnCount; ++column)
            item->setTextAlignment(column, velomark::logColumnAlignment(column));
        items.append(item);
    }
    // One insertion keeps the view from laying out once per row.
    ui.treeWidgetLoggedData->addTopLevelItems(items);
}

void Vantrix::ShowRecordCount()
{
    setWindowTitle(velomark::titleWithRecordCount(windowTitle(), ui.treeWidgetLoggedData->topLevelItemCount(),
                                                  heldIncomplete));
    UpdateControls();
}

void Vantrix::StopDumpReader()
{
    if (!dumpReader || !dumpReader->isRunning())
        return;
    // The dump is dropped: shutdown restores the lidar without displaying.
    disconnect(dumpReader.get(), &QThread::finished, this, &Vantrix::DumpThreadFinished);
    dumpReader->requestStop();
    dumpReader->wait();
    connect(dumpReader.get(), &QThread::finished, this, &Vantrix::DumpThreadFinished);
    ArchiveDownload(velomark::finishDownload(*lidarConnection, *dumpReader, retrievalLidarName, pendingMessage, *op, {}));
}

void Vantrix::OnBtnEraseLaserData()
{
    const FocusKeeper focus(this);
    const QString lidar = selectedLidarText();
    // The log of a lidar may exist nowhere else: the operator hears what is at stake first.
    QString preface;
    const auto kept = completeDownloads.find(lidar);
    if (kept == completeDownloads.end()) {
        if (!op->ask(velomark::applicationTitle(),
                     QStringLiteral("The log of lidar %1 has not been downloaded completely since Velomark was started: "
                                    "erasing it loses records that exist nowhere else. Erase anyway?")
                         .arg(lidar)))
            return;
    } else {
        preface = QStringLiteral("Lidar %1: %2 records downloaded at %3 and archived.")
                      .arg(lidar)
                      .arg(kept->validRecords)
                      .arg(kept->facts.finished.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    }
    if (velomark::eraseStoredLog(*lidarConnection, lidar, *op, preface) == velomark::EraseOutcome::Erased
        && kept != completeDownloads.end()) {
        const QString error = velomark::addErase(*kept, QDateTime::currentDateTimeUtc());
        if (!error.isEmpty())
            op->inform(velomark::applicationTitle(),
                       QStringLiteral("The download record was not updated: %1").arg(error));
        completeDownloads.erase(kept);
    }
    UpdateControls();
}

void Vantrix::OnBtnRefreshClicked()
{
    CloseLidarPort();
    EnumeratePorts();
}

void Vantrix::EnumeratePorts()
{
    emit enumeratePortsStarted();
    ui.listWidgetLidars->clear();
    lidarConnection->lidars = velomark::enumerateLidars(*op);
    for (const velomark::LidarEntry &entry : qAsConst(lidarConnection->lidars))
        ui.listWidgetLidars->addItem(entry.name);
    if (ui.listWidgetLidars->count() > 0) {
        ui.listWidgetLidars->setCurrentRow(0);
        UpdateControls();
    }
}

void Vantrix::OnListWidgetLidarsCurrentRowChanhed(int iCurItem)
{
    if (iCurItem == -1)
        return;
    const QListWidgetItem *item = ui.listWidgetLidars->item(iCurItem);
    if (!item)
        return;
    setWindowTitle(QStringLiteral("Veltrazon Speed Velomark ") + QCoreApplication::applicationVersion()
                   + QStringLiteral(" -- ") + item->text());
}

void Vantrix::OnBtnLoadDataClicked()
{
    const FocusKeeper focus(this);
    // The last dump was written to the working folder, unless files were loaded from elsewhere.
    const QString path = velomark::chooseDataFileToLoad(*op, rememberedFolder("load", QDir::currentPath()));
    const std::optional<QVector<velomark::SpeedRecord>> records = velomark::loadDataFile(path);
    if (!records)
        return;
    rememberFolder("load", path);
    // An archived dump names its own lidar in the record beside it; any other dump takes the
    // selected lidar's.
    const QFileInfo file(path);
    const velomark::LoadedRecord beside =
        velomark::loadDownloadRecord(file.dir().filePath(file.completeBaseName() + QStringLiteral(".json")));
    const bool provenance = beside.record && beside.record->dumpFile == file.fileName();
    // The title names the file last loaded after the selected lidar.
    QString title = velomark::titleWithoutRecordCount(windowTitle());
    const int fileAt = title.indexOf(kLoadedFileMark);
    if (fileAt >= 0)
        title.truncate(fileAt);
    title += kLoadedFileMark + file.fileName();
    if (provenance)
        title += QStringLiteral(" (lidar %1)").arg(beside.record->facts.lidar.name);
    setWindowTitle(title);
    ShowLoggedRecords(*records, velomark::lidarIdOf(provenance ? beside.record->facts.lidar.name : selectedLidarText()));
}
