#pragma once
// The speed chart drawn with QtCharts: the chart itself (shared by the "Speed Chart" tab and
// the command line's plot) and the tab's panel with its switch, limit and hover texts.
#include <QChart>
#include <QChartView>
#include <QGraphicsObject>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "chart/speedreport.h"
#include "chart/speedseries.h"
#include "chart/speedstats.h"

class QComboBox;
class QLabel;
class QPainter;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;

namespace QtCharts {
class QCategoryAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
}  // namespace QtCharts

namespace velomark {

class OperatorInterface;
class SpeedChart;

// The points of both directions, painted by one item: as chart series items (one marker item
// per point) 10^5 points would take seconds to draw. Hovering and clicking find the nearest
// point within a few pixels.
class SpeedPointsItem : public QGraphicsObject
{
    Q_OBJECT
public:
    explicit SpeedPointsItem(SpeedChart *chart);
    // The series whose points are painted; it must outlive its drawing (null: none).
    void setSeries(const SpeedSeries *series);
    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;
    // The list row of the point nearest to a position (chart coordinates) within reach; -1
    // when no point is that near.
    int rowNear(const QPointF &position) const;

signals:
    void rowHovered(int row);  // -1 when the pointer left the points
    void rowClicked(int row);

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;

private:
    SpeedChart *m_chart;
    const SpeedSeries *m_series = nullptr;
    int m_hoveredRow = -1;
};

// Speed against the lidar's time: approaching and receding points in two colours with a
// legend, the limit as a horizontal line, the count above it in the title.
class SpeedChart : public QtCharts::QChart
{
    Q_OBJECT
public:
    static constexpr int kMarkerSize = 7;

    explicit SpeedChart(QGraphicsItem *parent = nullptr);
    // Draws the series afresh; it must outlive its drawing.
    void draw(const SpeedSeries &series);
    // After a live row was added to the series drawn: axes, title and the new point.
    void drawAdded(const SpeedSeries &series);
    // Where a value (time, speed) stands in chart coordinates.
    QPointF position(const QPointF &value) const;

    // The two legend entries (their points are painted by points()), and their colours.
    QtCharts::QScatterSeries *approaching() const { return m_approaching; }
    QtCharts::QScatterSeries *receding() const { return m_receding; }
    SpeedPointsItem *points() const { return m_points; }
    QtCharts::QLineSeries *limitLine() const { return m_limitLine; }
    QtCharts::QCategoryAxis *timeAxis() const { return m_timeAxis; }
    QtCharts::QValueAxis *speedAxis() const { return m_speedAxis; }

private:
    void drawFrame(const SpeedSeries &series);

    QtCharts::QScatterSeries *m_approaching;
    QtCharts::QScatterSeries *m_receding;
    QtCharts::QLineSeries *m_limitLine;
    QtCharts::QCategoryAxis *m_timeAxis;
    QtCharts::QValueAxis *m_speedAxis;
    SpeedPointsItem *m_points;
};

// Paints the chart of a series, `size` pixels from the painter's origin.
void paintSpeedChart(const SpeedSeries &series, const QSize &size, QPainter *painter);

// Paints the histogram of all speeds with the limit and the 85th percentile marked, `size`
// pixels from the painter's origin; its texts are text, also in vector output.
void paintSpeedDistribution(const SpeedStats &stats, const QSize &size, QPainter *painter);

// Renders a picture into a PNG or SVG file (by the file's extension) of the given size,
// without a display, written through QSaveFile. False with *error set when it failed.
bool renderPicture(const QSize &size, const QString &path, const QString &title,
                   const std::function<void(QPainter *)> &paint, QString *error);

// Renders the chart of a series into a PNG or SVG file, as renderPicture does.
bool renderSpeedChart(const SpeedSeries &series, const QSize &size, const QString &path, QString *error);

// The speed distribution as a widget.
class SpeedDistributionView : public QWidget
{
    Q_OBJECT
public:
    explicit SpeedDistributionView(QWidget *parent = nullptr);
    void setStats(const SpeedStats &stats);
    const SpeedStats &stats() const { return m_stats; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    SpeedStats m_stats;
};

// The "Speed Chart" tab: which list is shown, the limit, the chart (speed over time or the
// distribution), the figures of the shown rows beside it, and saving the chart or a report.
class SpeedChartPanel : public QWidget
{
    Q_OBJECT
public:
    // How long live rows are gathered before the figures are worked out again.
    static constexpr int kLiveStatsDelayMs = 200;

    // `rowsOf` gives the texts of every row of a list, in list order.
    explicit SpeedChartPanel(std::function<QVector<QStringList>(ChartRows)> rowsOf, QWidget *parent = nullptr);

    // A list was filled, cleared or filtered: a chart of it is drawn again (at once when shown).
    void listChanged(ChartRows kind);
    // A row was added at the end of the live list.
    void liveRowAdded(const QStringList &row);
    // Shows the rows of that list.
    void showRows(ChartRows kind);

    // The file dialogs and the messages of Save Chart and Save Report.
    void setOperator(OperatorInterface *op) { m_operator = op; }
    // Adds what the window knows about the rows of a list to a report of them (the filter,
    // the lidar, the download record).
    void setReportFacts(std::function<void(ChartRows, SpeedReport *)> facts) { m_reportFacts = std::move(facts); }

    // Asks for a PNG or SVG file and saves the chart shown, at its size on screen.
    void saveChart();
    // Asks for a PDF file and saves the report of the shown rows.
    void saveReport();

    ChartRows shownRows() const { return m_series.kind(); }
    // The figures of the table (worked out shortly after the rows changed).
    const SpeedStats &stats() const { return m_stats; }
    QTableWidget *statsTable() const { return m_table; }
    QComboBox *viewChoice() const { return m_viewChoice; }
    SpeedDistributionView *distribution() const { return m_distribution; }
    QPushButton *saveChartButton() const { return m_saveChart; }
    QPushButton *saveReportButton() const { return m_saveReport; }
    const SpeedSeries &series() const { return m_series; }
    SpeedChart *chart() const { return m_chart; }
    QtCharts::QChartView *view() const { return m_view; }
    QSpinBox *limitBox() const { return m_limit; }
    QRadioButton *logChoice() const { return m_logChoice; }
    QRadioButton *liveChoice() const { return m_liveChoice; }
    // The texts of the row under the pointer (the tooltip's text); empty when none.
    QString hoverText() const { return m_hoverText; }

signals:
    // A point was clicked: the row it stands for in its list.
    void rowClicked(velomark::ChartRows kind, int row);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void redraw();
    void rowHovered(int row);
    void scheduleStats(int delayMs);
    void updateStats();
    // Runs a pending update of the figures at once.
    void flushPendingStats();
    void fitTable();
    void showUnit();

    std::function<QVector<QStringList>(ChartRows)> m_rowsOf;
    QVector<QStringList> m_rows;
    SpeedSeries m_series;
    bool m_stale = true;
    QString m_hoverText;
    QRadioButton *m_logChoice;
    QRadioButton *m_liveChoice;
    QSpinBox *m_limit;
    SpeedChart *m_chart;
    QtCharts::QChartView *m_view;
    OperatorInterface *m_operator = nullptr;
    std::function<void(ChartRows, SpeedReport *)> m_reportFacts;
    SpeedStats m_stats;
    QTimer m_statsTimer;
    QComboBox *m_viewChoice;
    QStackedWidget *m_stack;
    SpeedDistributionView *m_distribution;
    QTableWidget *m_table;
    QPushButton *m_saveChart;
    QPushButton *m_saveReport;
};

}  // namespace velomark
