#include "reportpdf.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include "speedchart.h"

namespace velomark {

namespace {

// Page coordinates in pixels of this resolution: the charts are laid out as on a screen.
constexpr int kResolution = 96;

QString clockText(const QDateTime &at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The facts above the figures, a label and its text per line.
QVector<QPair<QString, QString>> factLines(const SpeedReport &report)
{
    const SpeedStats &stats = report.stats;
    QVector<QPair<QString, QString>> lines{
        {QStringLiteral("Source"), report.source},
        {QStringLiteral("Lidar"), report.lidarName.isEmpty() ? QStringLiteral("not named") : report.lidarName},
        {QStringLiteral("Lidar_Id"),
         report.lidarIds.isEmpty() ? QStringLiteral("-") : report.lidarIds.join(QStringLiteral(", "))},
        {QStringLiteral("Period"), report.first.isValid()
                                       ? QStringLiteral("%1 to %2 (the lidar's clock)")
                                             .arg(clockText(report.first), clockText(report.last))
                                       : QStringLiteral("no dated record")},
        {QStringLiteral("Filter"), report.filter},
        {QStringLiteral("Records"), QStringLiteral("%1 records, %2 speeds, %3 left out without a valid speed")
                                        .arg(stats.rowCount)
                                        .arg(stats.all.count)
                                        .arg(stats.leftOut)},
        {QStringLiteral("Limit"), QStringLiteral("%1 %2 (above it means strictly faster)").arg(stats.limit).arg(stats.unit)},
    };
    if (!report.record) {
        lines.append({QStringLiteral("Download record"), QStringLiteral("none beside the input")});
        return lines;
    }
    const SpeedReportRecord &record = *report.record;
    lines.append({QStringLiteral("Download record"), QFileInfo(record.path).fileName()});
    lines.append({QStringLiteral("Dump SHA-256"), QString::fromLatin1(record.dumpSha256)});
    lines.append({QStringLiteral("Input is that dump"), record.inputIsDump ? QStringLiteral("yes") : QStringLiteral("no")});
    lines.append({QStringLiteral("Signed"), record.isSigned
                                                ? QStringLiteral("yes (%1.p7s)").arg(QFileInfo(record.path).fileName())
                                                : QStringLiteral("no")});
    return lines;
}

}  // namespace

QString writeReportPdf(const SpeedReport &report, const SpeedSeries &series, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    {
        QPdfWriter writer(&file);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
        writer.setResolution(kResolution);
        writer.setTitle(report.title);
        writer.setCreator(QStringLiteral(VELOMARK_PRODUCT_NAME " " VELOMARK_PRODUCT_VERSION));
        QPainter painter;
        if (!painter.begin(&writer)) {
            file.cancelWriting();
            return QStringLiteral("the PDF could not be started");
        }
        const QRectF page(QPointF(0, 0), writer.pageLayout().paintRectPixels(kResolution).size());
        QFont font(QStringLiteral("DejaVu Sans"), 9);
        // Without ligatures a digest or a word reads back letter for letter.
        font.setStyleStrategy(QFont::PreferNoShaping);
        painter.setFont(font);
        const double line = QFontMetricsF(font, &writer).height() * 1.25;
        double y = 0;

        // Every figure is drawn as text, so that it can be searched and read back.
        QFont titleFont = font;
        titleFont.setPointSize(16);
        titleFont.setBold(true);
        painter.setFont(titleFont);
        const double titleHeight = QFontMetricsF(titleFont, &writer).height() * 1.4;
        painter.drawText(QRectF(0, y, page.width(), titleHeight), Qt::AlignLeft | Qt::AlignVCenter, report.title);
        y += titleHeight + line * 0.5;

        painter.setFont(font);
        const double labelWidth = page.width() * 0.22;
        for (const auto &fact : factLines(report)) {
            QFont bold = font;
            bold.setBold(true);
            painter.setFont(bold);
            painter.drawText(QRectF(0, y, labelWidth, line), Qt::AlignLeft | Qt::AlignVCenter, fact.first);
            painter.setFont(font);
            painter.drawText(QRectF(labelWidth, y, page.width() - labelWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                             fact.second);
            y += line;
        }
        y += line * 0.7;

        // The figures: a label column and one column per group.
        const double cellWidth = (page.width() - labelWidth) / 3;
        QFont bold = font;
        bold.setBold(true);
        painter.setFont(bold);
        const QStringList groups{QStringLiteral("Approaching"), QStringLiteral("Receding"), QStringLiteral("All")};
        painter.drawText(QRectF(0, y, labelWidth, line), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Figure (%1)").arg(report.stats.unit));
        for (int column = 0; column < groups.size(); ++column)
            painter.drawText(QRectF(labelWidth + column * cellWidth, y, cellWidth, line),
                             Qt::AlignRight | Qt::AlignVCenter, groups.at(column));
        y += line;
        painter.drawLine(QPointF(0, y), QPointF(page.width(), y));
        painter.setFont(font);
        for (const SpeedStatsLine &figures : speedStatsLines(report.stats)) {
            painter.drawText(QRectF(0, y, labelWidth, line), Qt::AlignLeft | Qt::AlignVCenter, figures.label);
            for (int column = 0; column < figures.cells.size(); ++column)
                painter.drawText(QRectF(labelWidth + column * cellWidth, y, cellWidth, line),
                                 Qt::AlignRight | Qt::AlignVCenter, figures.cells.at(column));
            y += line;
        }
        y += line;

        // The speed over time below the table, the distribution on the next page.
        const QSize chartSize(int(page.width()), int(qMin(page.height() * 0.45, page.width() * 0.62)));
        if (y + chartSize.height() > page.height()) {
            writer.newPage();
            y = 0;
        }
        painter.save();
        painter.translate(0, y);
        paintSpeedChart(series, chartSize, &painter);
        painter.restore();
        writer.newPage();
        painter.setFont(font);
        paintSpeedDistribution(report.stats, chartSize, &painter);
        if (!painter.end()) {
            file.cancelWriting();
            return QStringLiteral("the PDF could not be finished");
        }
    }
    if (file.error() != QFileDevice::NoError || !file.commit())
        return file.errorString();
    return QString();
}

}  // namespace velomark
