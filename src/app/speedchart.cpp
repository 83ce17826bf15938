#include "speedchart.h"

#include <QCategoryAxis>
#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTableWidget>
#include <QCoreApplication>
#include <QCursor>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QPaintEngine>
#include <QPixmap>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPainter>
#include <QRadioButton>
#include <QSaveFile>
#include <QScatterSeries>
#include <QSpinBox>
#include <QSvgGenerator>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>

#include "common/operatorinterface.h"
#include "reportpdf.h"

using namespace QtCharts;

namespace velomark {

namespace {

// How near the pointer must come to a point's centre to hover or click it, in pixels.
constexpr double kReach = 6;

QScatterSeries *scatter(const QString &name, const QColor &color)
{
    auto *series = new QScatterSeries;
    series->setName(name);
    series->setColor(color);
    series->setBorderColor(color.darker(130));
    series->setMarkerSize(SpeedChart::kMarkerSize);
    return series;
}

// One marker, painted once and then copied to every point.
QPixmap marker(const QColor &color)
{
    const int side = SpeedChart::kMarkerSize + 2;
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color.darker(130), 1));
    painter.setBrush(color);
    painter.drawEllipse(QPointF(side / 2.0, side / 2.0), SpeedChart::kMarkerSize / 2.0, SpeedChart::kMarkerSize / 2.0);
    return pixmap;
}

}  // namespace

SpeedPointsItem::SpeedPointsItem(SpeedChart *chart) : QGraphicsObject(chart), m_chart(chart)
{
    setAcceptHoverEvents(true);
    setZValue(10);
    connect(chart, &QChart::plotAreaChanged, this, [this] { prepareGeometryChange(); });
}

void SpeedPointsItem::setSeries(const SpeedSeries *series)
{
    m_series = series;
    update();
}

QRectF SpeedPointsItem::boundingRect() const
{
    const double half = SpeedChart::kMarkerSize;
    return m_chart->plotArea().adjusted(-half, -half, half, half);
}

void SpeedPointsItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    if (!m_series)
        return;
    const QRectF area = m_chart->plotArea();
    const int width = qMax(1, int(area.width()) + 1);
    const int height = qMax(1, int(area.height()) + 1);
    // Vector output gets every point as a circle; pixels get a copy of one marker per pixel
    // that holds a point (what more points there would not show).
    const bool vector = painter->paintEngine() && painter->paintEngine()->type() == QPaintEngine::SVG;
    painter->save();
    painter->setClipRect(boundingRect());
    painter->setRenderHint(QPainter::Antialiasing);
    for (const bool receding : {false, true}) {
        const QColor color = (receding ? m_chart->receding() : m_chart->approaching())->color();
        const SpeedPoints &points = receding ? m_series->receding() : m_series->approaching();
        const QPixmap stamp = marker(color);
        const QPointF offset(stamp.width() / 2.0, stamp.height() / 2.0);
        painter->setPen(QPen(color.darker(130), 1));
        painter->setBrush(color);
        QVector<bool> taken(vector ? 0 : width * height);
        for (const QPointF &value : points.points) {
            const QPointF at = m_chart->position(value);
            if (!area.contains(at))
                continue;
            if (vector) {
                painter->drawEllipse(at, SpeedChart::kMarkerSize / 2.0, SpeedChart::kMarkerSize / 2.0);
                continue;
            }
            const int cell = qBound(0, int(at.y() - area.top()), height - 1) * width
                             + qBound(0, int(at.x() - area.left()), width - 1);
            if (taken[cell])
                continue;
            taken[cell] = true;
            painter->drawPixmap(at - offset, stamp);
        }
    }
    painter->restore();
}

int SpeedPointsItem::rowNear(const QPointF &position) const
{
    if (!m_series)
        return -1;
    int row = -1;
    double nearest = kReach * kReach;
    for (const SpeedPoints *points : {&m_series->approaching(), &m_series->receding()}) {
        for (int i = 0; i < points->points.size(); ++i) {
            const QPointF apart = m_chart->position(points->points.at(i)) - position;
            const double distance = QPointF::dotProduct(apart, apart);
            if (distance <= nearest) {
                nearest = distance;
                row = points->rows.at(i);
            }
        }
    }
    return row;
}

void SpeedPointsItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    const int row = rowNear(event->pos());
    if (row != m_hoveredRow) {
        m_hoveredRow = row;
        emit rowHovered(row);
    }
}

void SpeedPointsItem::hoverLeaveEvent(QGraphicsSceneHoverEvent *)
{
    if (m_hoveredRow != -1) {
        m_hoveredRow = -1;
        emit rowHovered(-1);
    }
}

void SpeedPointsItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    const int row = rowNear(event->pos());
    if (row < 0) {
        event->ignore();
        return;
    }
    emit rowClicked(row);
}

SpeedChart::SpeedChart(QGraphicsItem *parent)
    : QChart(parent),
      m_approaching(scatter(QStringLiteral("Approaching"), QColor(0x1f, 0x77, 0xb4))),
      m_receding(scatter(QStringLiteral("Receding"), QColor(0xff, 0x7f, 0x0e))),
      m_limitLine(new QLineSeries),
      m_timeAxis(new QCategoryAxis),
      m_speedAxis(new QValueAxis),
      m_points(new SpeedPointsItem(this))
{
    setAnimationOptions(QChart::NoAnimation);
    QPen limitPen(QColor(0xd6, 0x27, 0x28));
    limitPen.setWidth(2);
    limitPen.setStyle(Qt::DashLine);
    m_limitLine->setPen(limitPen);
    addSeries(m_approaching);
    addSeries(m_receding);
    addSeries(m_limitLine);
    m_timeAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    m_timeAxis->setTitleText(QStringLiteral("Lidar time"));
    m_speedAxis->setLabelFormat(QStringLiteral("%.0f"));
    addAxis(m_timeAxis, Qt::AlignBottom);
    addAxis(m_speedAxis, Qt::AlignLeft);
    for (QXYSeries *series : {static_cast<QXYSeries *>(m_approaching), static_cast<QXYSeries *>(m_receding),
                              static_cast<QXYSeries *>(m_limitLine)}) {
        series->attachAxis(m_timeAxis);
        series->attachAxis(m_speedAxis);
    }
    legend()->setAlignment(Qt::AlignBottom);
}

void SpeedChart::draw(const SpeedSeries &series)
{
    drawFrame(series);
    m_points->setSeries(&series);
}

void SpeedChart::drawAdded(const SpeedSeries &series)
{
    drawFrame(series);
}

QPointF SpeedChart::position(const QPointF &value) const
{
    const QRectF area = plotArea();
    const double timeSpan = m_timeAxis->max() - m_timeAxis->min();
    const double speedSpan = m_speedAxis->max() - m_speedAxis->min();
    return QPointF(area.left() + (value.x() - m_timeAxis->min()) / (timeSpan > 0 ? timeSpan : 1) * area.width(),
                   area.bottom() - (value.y() - m_speedAxis->min()) / (speedSpan > 0 ? speedSpan : 1) * area.height());
}

void SpeedChart::drawFrame(const SpeedSeries &series)
{
    setTitle(series.title());
    m_limitLine->setName(QStringLiteral("Limit %1 %2").arg(series.limit()).arg(series.unit()));

    // A minute either side keeps the first and last points off the frame.
    double first = series.firstTime();
    double last = series.lastTime();
    if (series.measurements() == 0) {
        first = 0;
        last = 3600 * 1000.0;
    }
    const double margin = qMax((last - first) * 0.03, 60 * 1000.0);
    first -= margin;
    last += margin;
    m_limitLine->replace(QVector<QPointF>{QPointF(first, series.limit()), QPointF(last, series.limit())});

    for (const QString &label : m_timeAxis->categoriesLabels())
        m_timeAxis->remove(label);
    m_timeAxis->setStartValue(first);
    // About one tick per 120 pixels, so that no label is cut.
    const int maxTicks = qBound(2, int(plotArea().width() > 0 ? plotArea().width() : size().width()) / 120, 8);
    if (series.measurements() > 0) {
        for (const TimeTick &tick : timeTicks(first, last, maxTicks))
            m_timeAxis->append(tick.text, tick.at);
    }
    m_timeAxis->setRange(first, last);

    // Round steps of speed, at most ten of them, with room above the fastest point.
    const double wanted = qMax(qMax(series.topSpeed(), double(series.limit())) * 1.1, 10.0);
    double step = 10;
    for (const double candidate : {10.0, 20.0, 25.0, 50.0, 100.0, 200.0, 500.0}) {
        step = candidate;
        if (std::ceil(wanted / step) <= 10)
            break;
    }
    const int steps = int(std::ceil(wanted / step));
    m_speedAxis->setRange(0, steps * step);
    m_speedAxis->setTickCount(steps + 1);
    m_speedAxis->setTitleText(QStringLiteral("Speed (%1)").arg(series.unit()));
    m_points->update();
}

void paintSpeedChart(const SpeedSeries &series, const QSize &size, QPainter *painter)
{
    auto *chart = new SpeedChart;
    QGraphicsScene scene;
    scene.addItem(chart);  // the scene deletes the chart
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    chart->draw(series);
    // The legend and the axis titles are laid out by posted events.
    QCoreApplication::sendPostedEvents();
    const QRectF area(QPointF(0, 0), size);
    scene.setSceneRect(area);
    scene.render(painter, area, area);
}

namespace {

// A round step for an axis from 0 to `top`, so that it has at most `ticks` steps.
double roundStep(double top, int ticks)
{
    for (double scale = 1;; scale *= 10) {
        for (const double step : {1.0, 2.0, 5.0}) {
            if (top / (step * scale) <= ticks)
                return step * scale;
        }
    }
}

}  // namespace

void paintSpeedDistribution(const SpeedStats &stats, const QSize &size, QPainter *painter)
{
    const SpeedGroupStats &all = stats.all;
    painter->save();
    const QRectF frame(QPointF(0, 0), size);
    painter->fillRect(frame, Qt::white);
    const QFontMetricsF metrics(painter->font(), painter->device());
    const double line = metrics.height();

    QFont titleFont = painter->font();
    titleFont.setBold(true);
    painter->setFont(titleFont);
    painter->setPen(Qt::black);
    const QString title = all.hasFigures()
                              ? QStringLiteral("Speed distribution: %1 speeds").arg(all.count)
                              : QStringLiteral("Speed distribution: no speeds");
    painter->drawText(QRectF(0, line * 0.3, frame.width(), line), Qt::AlignHCenter | Qt::AlignVCenter, title);
    painter->setFont(QFont(titleFont.family(), titleFont.pointSize()));

    const QRectF area = frame.adjusted(line * 4, line * 3.2, -line * 1.5, -line * 3);
    if (area.width() <= 0 || area.height() <= 0) {
        painter->restore();
        return;
    }
    // The speed axis reaches past the fastest bin, the limit and the 85th percentile.
    double top = all.histogram.size() * 5.0;
    top = qMax(top, double(stats.limit) + 5);
    const double speedStep = roundStep(top, 12);
    top = std::ceil(top / speedStep) * speedStep;
    int highest = 0;
    for (const SpeedBin &bin : all.histogram)
        highest = qMax(highest, bin.count);
    const double countStep = roundStep(qMax(highest, 1), 6);
    const double countTop = std::ceil(qMax(highest, 1) / countStep) * countStep;
    const auto x = [&](double speed) { return area.left() + speed / top * area.width(); };
    const auto y = [&](double count) { return area.bottom() - count / countTop * area.height(); };

    painter->setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1));
    for (double count = 0; count <= countTop + 0.5; count += countStep)
        painter->drawLine(QPointF(area.left(), y(count)), QPointF(area.right(), y(count)));
    painter->setPen(QPen(QColor(0x1f, 0x77, 0xb4).darker(130), 1));
    painter->setBrush(QColor(0x1f, 0x77, 0xb4));
    for (const SpeedBin &bin : all.histogram) {
        if (bin.count > 0)
            painter->drawRect(QRectF(QPointF(x(bin.from), y(bin.count)), QPointF(x(bin.to), y(0))));
    }
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(Qt::black, 1));
    painter->drawLine(area.bottomLeft(), area.bottomRight());
    painter->drawLine(area.bottomLeft(), area.topLeft());
    for (double speed = 0; speed <= top + 0.5; speed += speedStep) {
        painter->drawLine(QPointF(x(speed), area.bottom()), QPointF(x(speed), area.bottom() + 4));
        painter->drawText(QRectF(x(speed) - line * 2, area.bottom() + 4, line * 4, line), Qt::AlignHCenter,
                          QString::number(speed, 'f', 0));
    }
    for (double count = 0; count <= countTop + 0.5; count += countStep)
        painter->drawText(QRectF(0, y(count) - line / 2, area.left() - 6, line), Qt::AlignRight | Qt::AlignVCenter,
                          QString::number(count, 'f', 0));
    painter->drawText(QRectF(area.left(), area.bottom() + line * 1.4, area.width(), line), Qt::AlignHCenter,
                      QStringLiteral("Speed (%1), bins of 5").arg(stats.unit));
    painter->save();
    painter->translate(line * 0.3, area.center().y());
    painter->rotate(-90);
    painter->drawText(QRectF(-area.height() / 2, 0, area.height(), line), Qt::AlignHCenter,
                      QStringLiteral("Speeds per bin"));
    painter->restore();

    // The two marks, each named above the plot in its own colour and line style.
    struct Mark
    {
        double at;
        QColor color;
        Qt::PenStyle style;
        QString text;
    };
    QVector<Mark> marks{{double(stats.limit), QColor(0xd6, 0x27, 0x28), Qt::DashLine,
                         QStringLiteral("Limit %1 %2").arg(stats.limit).arg(stats.unit)}};
    if (all.hasFigures())
        marks.append({all.p85, QColor(0x2c, 0xa0, 0x2c), Qt::SolidLine,
                      QStringLiteral("85th percentile %1 %2").arg(all.p85, 0, 'f', 1).arg(stats.unit)});
    double legendX = area.left();
    for (const Mark &mark : marks) {
        QPen pen(mark.color, 2);
        pen.setStyle(mark.style);
        painter->setPen(pen);
        painter->drawLine(QPointF(x(mark.at), area.top()), QPointF(x(mark.at), area.bottom()));
        const double legendY = line * 1.8;
        painter->drawLine(QPointF(legendX, legendY), QPointF(legendX + line * 1.5, legendY));
        painter->setPen(Qt::black);
        const QString text = mark.text;
        painter->drawText(QPointF(legendX + line * 2, legendY + metrics.ascent() / 2 - 1), text);
        legendX += line * 3 + metrics.horizontalAdvance(text);
    }
    painter->restore();
}

bool renderPicture(const QSize &size, const QString &path, const QString &title,
                   const std::function<void(QPainter *)> &paint, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const bool svg = QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0;
    if (svg) {
        QSvgGenerator generator;
        generator.setOutputDevice(&file);
        generator.setSize(size);
        generator.setViewBox(QRect(QPoint(0, 0), size));
        generator.setTitle(title);
        QPainter painter(&generator);
        paint(&painter);
    } else {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(&painter);
        painter.end();
        if (!image.save(&file, "PNG")) {
            *error = QStringLiteral("the image could not be encoded");
            file.cancelWriting();
            return false;
        }
    }
    if (file.error() != QFileDevice::NoError || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool renderSpeedChart(const SpeedSeries &series, const QSize &size, const QString &path, QString *error)
{
    return renderPicture(size, path, series.title(),
                         [&](QPainter *painter) { paintSpeedChart(series, size, painter); }, error);
}

SpeedDistributionView::SpeedDistributionView(QWidget *parent) : QWidget(parent)
{
    setAutoFillBackground(false);
}

void SpeedDistributionView::setStats(const SpeedStats &stats)
{
    m_stats = stats;
    update();
}

void SpeedDistributionView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintSpeedDistribution(m_stats, size(), &painter);
}

SpeedChartPanel::SpeedChartPanel(std::function<QVector<QStringList>(ChartRows)> rowsOf, QWidget *parent)
    : QWidget(parent),
      m_rowsOf(std::move(rowsOf)),
      m_series(ChartRows::Log, 50),
      m_logChoice(new QRadioButton(QStringLiteral("Laser Data Log"), this)),
      m_liveChoice(new QRadioButton(QStringLiteral("Laser Live Data"), this)),
      m_limit(new QSpinBox(this)),
      m_chart(new SpeedChart),
      m_view(new QChartView(m_chart, this)),
      m_viewChoice(new QComboBox(this)),
      m_stack(new QStackedWidget(this)),
      m_distribution(new SpeedDistributionView(this)),
      m_table(new QTableWidget(this)),
      m_saveChart(new QPushButton(QStringLiteral("Save Chart ..."), this)),
      m_saveReport(new QPushButton(QStringLiteral("Save Report ..."), this))
{
    m_logChoice->setObjectName(QStringLiteral("radioButtonChartLog"));
    m_liveChoice->setObjectName(QStringLiteral("radioButtonChartLive"));
    m_limit->setObjectName(QStringLiteral("spinBoxLimit"));
    m_view->setObjectName(QStringLiteral("chartViewSpeed"));
    m_viewChoice->setObjectName(QStringLiteral("comboBoxChartView"));
    m_distribution->setObjectName(QStringLiteral("speedDistribution"));
    m_table->setObjectName(QStringLiteral("tableWidgetStats"));
    m_saveChart->setObjectName(QStringLiteral("pushButtonSaveChart"));
    m_saveReport->setObjectName(QStringLiteral("pushButtonSaveReport"));
    m_logChoice->setChecked(true);
    m_limit->setRange(0, 999);
    m_limit->setValue(m_series.limit());
    m_view->setRenderHint(QPainter::Antialiasing);
    m_viewChoice->addItems({QStringLiteral("Speed over time"), QStringLiteral("Speed distribution")});
    m_stack->addWidget(m_view);
    m_stack->addWidget(m_distribution);
    showUnit();

    // The table's lines are those of the figures of no rows; their cells are filled later.
    const QVector<SpeedStatsLine> lines = speedStatsLines(SpeedStats{});
    m_table->setRowCount(lines.size());
    m_table->setColumnCount(3);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Approaching"), QStringLiteral("Receding"), QStringLiteral("All")});
    QStringList labels;
    for (const SpeedStatsLine &line : lines)
        labels << line.label;
    m_table->setVerticalHeaderLabels(labels);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::ContiguousSelection);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    for (int row = 0; row < lines.size(); ++row) {
        for (int column = 0; column < 3; ++column) {
            auto *item = new QTableWidgetItem(QStringLiteral("-"));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, column, item);
        }
    }
    m_table->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    fitTable();
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    // Live rows come up to 100 a second: the figures are worked out once for a burst of them,
    // after the rows were shown.
    m_statsTimer.setSingleShot(true);
    connect(&m_statsTimer, &QTimer::timeout, this, &SpeedChartPanel::updateStats);

    auto *limitLabel = new QLabel(QStringLiteral("Limit"), this);
    limitLabel->setBuddy(m_limit);
    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(3, 3, 3, 0);
    bar->addWidget(m_logChoice);
    bar->addWidget(m_liveChoice);
    bar->addSpacing(12);
    bar->addWidget(m_viewChoice);
    bar->addStretch();
    bar->addWidget(limitLabel);
    bar->addWidget(m_limit);
    bar->addSpacing(12);
    bar->addWidget(m_saveChart);
    bar->addWidget(m_saveReport);
    auto *body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->addWidget(m_stack, 1);
    body->addWidget(m_table);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addLayout(body);

    connect(m_liveChoice, &QRadioButton::toggled, this,
            [this](bool live) { showRows(live ? ChartRows::Live : ChartRows::Log); });
    connect(m_limit, QOverload<int>::of(&QSpinBox::valueChanged), this, [this](int limit) {
        m_series.setLimit(limit);
        m_chart->draw(m_series);
        scheduleStats(0);
    });
    connect(m_viewChoice, QOverload<int>::of(&QComboBox::currentIndexChanged), m_stack,
            &QStackedWidget::setCurrentIndex);
    connect(m_saveChart, &QPushButton::clicked, this, &SpeedChartPanel::saveChart);
    connect(m_saveReport, &QPushButton::clicked, this, &SpeedChartPanel::saveReport);
    connect(m_chart->points(), &SpeedPointsItem::rowHovered, this, &SpeedChartPanel::rowHovered);
    connect(m_chart->points(), &SpeedPointsItem::rowClicked, this,
            [this](int row) { emit rowClicked(m_series.kind(), row); });
}

void SpeedChartPanel::showRows(ChartRows kind)
{
    QSignalBlocker blocker(m_liveChoice);
    (kind == ChartRows::Live ? m_liveChoice : m_logChoice)->setChecked(true);
    m_series = SpeedSeries(kind, m_limit->value());
    m_stale = true;
    redraw();
}

void SpeedChartPanel::listChanged(ChartRows kind)
{
    if (kind != m_series.kind())
        return;
    m_stale = true;
    if (isVisible())
        redraw();
}

void SpeedChartPanel::liveRowAdded(const QStringList &row)
{
    if (m_series.kind() != ChartRows::Live || m_stale)
        return;
    if (!isVisible()) {
        m_stale = true;
        return;
    }
    m_rows.append(row);
    if (m_series.addRow(row))
        m_chart->drawAdded(m_series);
    else
        m_chart->draw(m_series);  // the unit changed: every point moved
    showUnit();
    scheduleStats(kLiveStatsDelayMs);
}

void SpeedChartPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_stale)
        redraw();
}

void SpeedChartPanel::redraw()
{
    m_rows = m_rowsOf(m_series.kind());
    m_series.setRows(m_rows);
    m_chart->draw(m_series);
    m_stale = false;
    showUnit();
    scheduleStats(0);
}

void SpeedChartPanel::scheduleStats(int delayMs)
{
    // A pending run is not pushed back by more rows, so a steady stream still shows figures;
    // a change of the whole list brings it forward.
    if (m_statsTimer.isActive() && m_statsTimer.remainingTime() <= delayMs)
        return;
    m_statsTimer.start(delayMs);
}

void SpeedChartPanel::updateStats()
{
    m_stats = speedStats(m_rows, m_limit->value(), m_series.unit());
    const QVector<SpeedStatsLine> lines = speedStatsLines(m_stats);
    for (int row = 0; row < lines.size(); ++row) {
        for (int column = 0; column < lines.at(row).cells.size(); ++column)
            m_table->item(row, column)->setText(lines.at(row).cells.at(column));
    }
    m_distribution->setStats(m_stats);
}

void SpeedChartPanel::fitTable()
{
    // Each column is as wide as its heading or the widest figure it can hold, and the table as
    // wide as its columns: the chart keeps the rest, and new figures never move it.
    const QFontMetrics metrics = m_table->fontMetrics();
    const int widest = qMax(metrics.horizontalAdvance(QStringLiteral("000-000")),
                            metrics.horizontalAdvance(QStringLiteral("0000000")));
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    int width = 0;
    for (int column = 0; column < m_table->columnCount(); ++column) {
        const int columnWidth =
            qMax(widest, metrics.horizontalAdvance(m_table->horizontalHeaderItem(column)->text())) + 16;
        m_table->setColumnWidth(column, columnWidth);
        width += columnWidth;
    }
    m_table->setFixedWidth(m_table->verticalHeader()->sizeHint().width() + width + m_table->frameWidth() * 2
                           + m_table->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void SpeedChartPanel::showUnit()
{
    m_limit->setSuffix(QLatin1Char(' ') + m_series.unit());
}

void SpeedChartPanel::flushPendingStats()
{
    // What is saved shows the figures of the rows shown now, not those before a pending update.
    if (m_statsTimer.isActive()) {
        m_statsTimer.stop();
        updateStats();
    }
}

void SpeedChartPanel::saveChart()
{
    if (!m_operator)
        return;
    QString path = m_operator->chooseSaveFile(QStringLiteral("Save Chart"), QString(),
                                              QStringLiteral("PNG image (*.png);;SVG image (*.svg)"), true);
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    // A name without a picture's suffix gets the first the dialog offered.
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg"))
        path += QStringLiteral(".png");
    // The picture has the size the chart has on screen.
    const QSize size = m_stack->currentWidget()->size();
    const bool distribution = m_stack->currentWidget() == m_distribution;
    flushPendingStats();
    QString error;
    const bool saved =
        distribution
            ? renderPicture(size, path, QStringLiteral("Speed distribution"),
                            [&](QPainter *painter) { paintSpeedDistribution(m_stats, size, painter); }, &error)
            : renderSpeedChart(m_series, size, path, &error);
    if (!saved)
        m_operator->inform(applicationTitle(), QStringLiteral("The chart could not be saved to %1: %2").arg(path, error));
}

void SpeedChartPanel::saveReport()
{
    if (!m_operator)
        return;
    QString path = m_operator->chooseSaveFile(QStringLiteral("Save Report"), QString(),
                                              QStringLiteral("PDF document (*.pdf)"), true);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) != 0)
        path += QStringLiteral(".pdf");
    flushPendingStats();
    const QString list = m_series.kind() == ChartRows::Live ? m_liveChoice->text() : m_logChoice->text();
    SpeedReport report = speedReportOf(m_rows, m_series.kind(), m_stats, LogDateFilter::all(),
                                       QStringLiteral("Speed study: %1").arg(list), list);
    if (m_reportFacts)
        m_reportFacts(m_series.kind(), &report);
    const QString error = writeReportPdf(report, m_series, path);
    if (!error.isEmpty())
        m_operator->inform(applicationTitle(), QStringLiteral("The report could not be saved to %1: %2").arg(path, error));
}

void SpeedChartPanel::rowHovered(int row)
{
    m_hoverText = row >= 0 && row < m_rows.size() ? m_rows.at(row).join(QStringLiteral("  ")).simplified() : QString();
    if (m_hoverText.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(QCursor::pos(), m_hoverText, m_view);
}

}  // namespace velomark
