// Live acquisition latency and sustained rate, through the real window, QSerialPort and reader.
//
// The benchmark is the lidar: it owns the master side of a pseudo-terminal, answers the
// commands Start sends, and writes binary records itself, so that it knows to the
// microsecond when each record was written. A record counts as handled when its row exists in
// the live list and its line has been flushed to the data file; the "painted" figure also
// includes the layout and paint pass that follows.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "live/livereader.h"
#include "live/speedrecord.h"
#include "vantrix.h"

namespace {

using Clock = std::chrono::steady_clock;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Speeds cycle through values whose bytes need no escape, so a row shows which record it is.
int speedOf(int sequence)
{
    return 30 + sequence % 100;
}

QByteArray binaryRecord(int speed)
{
    const QByteArray body = QByteArray::fromHex("1504") + char(speed >> 8) + char(speed & 0xFF)
                            + QByteArray::fromHex("04D201");
    char checksum = 0;
    for (char byte : body)
        checksum ^= byte;
    QByteArray frame(1, '\x02');
    for (char byte : body + checksum) {
        if (byte == 0x02 || byte == 0x03 || byte == 0x10)
            frame += '\x10';
        frame += byte;
    }
    return frame + '\x03';
}

// The lidar side of the pty: answers Start's commands and writes records on a schedule.
class BenchLidar
{
public:
    bool open()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return false;
        m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
        m_thread = std::thread([this] { serve(); });
        return true;
    }
    ~BenchLidar()
    {
        m_quit = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_master >= 0)
            ::close(m_master);
    }
    QString slavePath() const { return m_slavePath; }

    // Sends `count` records, one every intervalMs, numbered from firstSequence.
    void schedule(int firstSequence, int count, int intervalMs)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_next = firstSequence;
        m_end = firstSequence + count;
        m_interval = std::chrono::milliseconds(intervalMs);
        m_due = Clock::now() + std::chrono::milliseconds(200);
    }
    // When the record was written, in steady-clock nanoseconds; 0 while it is not.
    qint64 sentAt(int sequence) const { return m_sentAt[size_t(sequence)].load(std::memory_order_acquire); }
    static constexpr int kMaxRecords = 4000;

private:
    void reply(const QByteArray &bytes)
    {
        [[maybe_unused]] const ssize_t written = ::write(m_master, bytes.constData(), size_t(bytes.size()));
    }

    void answer()
    {
        static const struct { QByteArray request, response; } kReplies[] = {
            {QByteArray::fromHex("020B0B03"), QByteArray::fromHex("020B0B03")},
            {QByteArray::fromHex("020C0C03"), QByteArray::fromHex("020C0C03")},
            {QByteArray::fromHex("021E1E03"), QByteArray("BT:RX:Brasko Version 9.3")},
            {QByteArray::fromHex("0209050C03"), QByteArray::fromHex("0209051010" "1C03")},
            // Output format 1 (binary records).
            {QByteArray::fromHex("020910030A03"), QByteArray::fromHex("02091003313B03")},
        };
        for (const auto &pair : kReplies) {
            const int at = m_received.indexOf(pair.request);
            if (at >= 0) {
                m_received.remove(0, at + pair.request.size());
                reply(pair.response);
                return;
            }
        }
        if (m_received.size() > 256)
            m_received.clear();
    }

    void serve()
    {
        while (!m_quit) {
            int waitMs = 20;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_next < m_end) {
                    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_due - Clock::now());
                    waitMs = int(std::clamp<qint64>(left.count(), 0, 20));
                }
            }
            pollfd fd{m_master, POLLIN, 0};
            if (::poll(&fd, 1, waitMs) > 0 && (fd.revents & POLLIN)) {
                char buffer[512];
                const ssize_t got = ::read(m_master, buffer, sizeof buffer);
                if (got > 0) {
                    m_received.append(buffer, int(got));
                    answer();
                }
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_next < m_end && Clock::now() >= m_due) {
                const QByteArray record = binaryRecord(speedOf(m_next));
                reply(record);
                m_sentAt[size_t(m_next)].store(nowNs(), std::memory_order_release);
                ++m_next;
                m_due += m_interval;
            }
        }
    }

    int m_master = -1;
    QString m_slavePath;
    std::thread m_thread;
    std::atomic<bool> m_quit{false};
    std::mutex m_mutex;
    int m_next = 0;
    int m_end = 0;
    std::chrono::milliseconds m_interval{1000};
    Clock::time_point m_due;
    std::atomic<qint64> m_sentAt[kMaxRecords] = {};
    QByteArray m_received;
};

class BenchOperator : public velomark::OperatorInterface
{
public:
    QString dataFile;
    int messages = 0;
    void inform(const QString &title, const QString &text) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s: %s\n", qPrintable(title), qPrintable(text));
    }
    bool ask(const QString &, const QString &) override { return false; }
    QString chooseSaveFile(const QString &, const QString &, const QString &, bool) override { return dataFile; }
    QString chooseOpenFile(const QString &, const QString &, const QString &) override { return {}; }
    void showWait(const QString &) override {}
    void setWaitText(const QString &) override {}
    void closeWait() override {}
};

struct RunResult
{
    int sent = 0;
    int handled = 0;
    int wrong = 0;  // buffers that gave no row of a record, or a row without its line
    std::vector<double> rowMs;
    std::vector<double> paintedMs;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[at];
}

class Bench
{
public:
    Bench(Vantrix &dialog, BenchLidar &lidar, const QString &path) : m_dialog(dialog), m_lidar(lidar), m_path(path) {}

    // Every buffer the reader hands on reaches this after the window's own slot.
    void watch()
    {
        QObject::connect(m_dialog.liveReader, &velomark::rThread::speed_disp, &m_context,
                         [this](const QByteArray &) { onBuffer(); }, Qt::QueuedConnection);
    }

    RunResult run(int count, int intervalMs, bool measurePaint)
    {
        m_result = RunResult{};
        m_result.sent = count;
        m_first = m_nextSequence;
        m_expected = count;
        m_measurePaint = measurePaint;
        m_rowsBefore = m_dialog.form().treeWidgetLiveData->topLevelItemCount();
        m_lastRow = -1;
        m_nextExpected = m_first;
        m_lidar.schedule(m_first, count, intervalMs);
        QElapsedTimer timer;
        timer.start();
        const qint64 limit = qint64(count) * intervalMs + 5000;
        while (m_nextExpected < m_first + count && timer.elapsed() < limit)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        // Anything still on its way (a lost record leaves nothing to wait for).
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        m_nextSequence += count;
        return m_result;
    }

private:
    void onBuffer()
    {
        const qint64 now = nowNs();
        QTreeWidget *tree = m_dialog.form().treeWidgetLiveData;
        const int row = tree->topLevelItemCount() - 1;
        // A buffer that gave no row of this run: dropped by the parser.
        if (row < m_rowsBefore || row == m_lastRow) {
            ++m_result.wrong;
            return;
        }
        m_lastRow = row;
        // The row's speed names its record; records skipped on the way were lost or merged
        // into the buffer of an earlier one.
        const QString speedText = tree->topLevelItem(row)->text(0);
        int sequence = m_nextExpected;
        const int end = m_first + m_expected;
        while (sequence < end && speedText != QStringLiteral("%1 km/h").arg(speedOf(sequence)))
            ++sequence;
        const qint64 sent = sequence < end ? m_lidar.sentAt(sequence) : 0;
        if (sent == 0 || !lastLineIsRecord(speedOf(sequence))) {
            ++m_result.wrong;
            return;
        }
        m_nextExpected = sequence + 1;
        m_result.rowMs.push_back(double(now - sent) / 1e6);
        if (m_measurePaint) {
            QCoreApplication::processEvents();
            m_result.paintedMs.push_back(double(nowNs() - sent) / 1e6);
        }
        ++m_result.handled;
    }

    // The record's line is the last one of the file (read back from the file system, so it
    // has been flushed).
    bool lastLineIsRecord(int speed) const
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly) || file.size() < 100)
            return false;
        file.seek(file.size() - 100);
        const QByteArray tail = file.read(100);
        const int lineStart = tail.lastIndexOf('\n', tail.size() - 2) + 1;
        return tail.mid(lineStart).startsWith(QByteArray::number(speed) + ",123.4,");
    }

    Vantrix &m_dialog;
    BenchLidar &m_lidar;
    QString m_path;
    QObject m_context;
    RunResult m_result;
    int m_first = 0;
    int m_expected = 0;
    int m_nextSequence = 0;
    int m_rowsBefore = 0;
    bool m_measurePaint = false;
    int m_lastRow = -1;
    int m_nextExpected = 0;
};

int lineCount(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return int(file.readAll().count('\n'));
}

void prefill(Vantrix &dialog, int rows)
{
    velomark::SpeedRecord record;
    record.speed = 57;
    record.range = 1234;
    record.metric = true;
    record.dateTime = QDateTime::currentDateTime();
    QTreeWidget *tree = dialog.form().treeWidgetLiveData;
    QList<QTreeWidgetItem *> items;
    for (int i = 0; i < rows; ++i) {
        auto *item = new QTreeWidgetItem({QStringLiteral("57 km/h"), QStringLiteral("123.4 m"),
                                          QStringLiteral("Approaching"), record.dateTime.toString("yyyyMMMdd"),
                                          record.dateTime.toString("hh:mm:ss"), QString(), QString(),
                                          QStringLiteral(" 4711")});
        items << item;
    }
    tree->addTopLevelItems(items);
    QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The reader's and the link's trace lines would swamp the table.
    qputenv("QT_LOGGING_RULES", "velomark.*.debug=false");
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));

    BenchLidar lidar;
    if (!lidar.open()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    QTemporaryDir dir;
    BenchOperator op;
    op.dataFile = dir.filePath(QStringLiteral("live.txt"));
    qputenv("VELOMARK_LIDARS", QStringLiteral("VZQ Demo 4711=%1").arg(lidar.slavePath()).toUtf8());

    Vantrix dialog(&op);
    dialog.show();
    dialog.form().tabWidgetData->setCurrentWidget(dialog.form().tabVantrix);
    dialog.EnumeratePorts();
    dialog.OnBtnBrowseClicked();
    QCoreApplication::processEvents();

    Bench bench(dialog, lidar, op.dataFile);
    const int latencyRecords = quick ? 40 : 220;
    const int sustainSeconds = quick ? 5 : 60;

    struct Row
    {
        QString name;
        RunResult result;
        int intervalMs;
    };
    std::vector<Row> rows;

    auto startRun = [&]() -> bool {
        dialog.OnBtnStartClicked();
        if (!dialog.liveRunning) {
            std::fprintf(stderr, "Start failed\n");
            return false;
        }
        static bool watching = false;
        if (!watching) {
            bench.watch();
            watching = true;
        }
        return true;
    };

    // Empty list.
    if (!startRun())
        return 1;
    rows.push_back({QStringLiteral("latency, empty list"), bench.run(latencyRecords, 200, true), 200});
    dialog.OnBtnStartClicked();

    // A long shift: 10^4 rows already shown.
    prefill(dialog, 10000);
    if (!startRun())
        return 1;
    rows.push_back({QStringLiteral("latency, 10^4 rows"), bench.run(latencyRecords, 200, true), 200});
    rows.push_back({QStringLiteral("sustained 10/s, 10^4+ rows"), bench.run(sustainSeconds * 10, 100, false), 100});
    rows.push_back({QStringLiteral("sustained 20/s, 10^4+ rows"), bench.run(sustainSeconds * 20, 50, false), 50});
    dialog.OnBtnStartClicked();

    const int fileLines = lineCount(op.dataFile) - 1;
    int written = 0;
    for (const Row &row : rows)
        written += row.result.handled;

    std::printf("\nLive acquisition: record written by the lidar -> row shown and line flushed (ms)\n");
    std::printf("%-28s %6s %7s %6s %6s %8s %8s %10s %10s\n", "case", "sent", "handled", "lost", "rate/s",
                "median", "p99", "paint med", "paint p99");
    for (const Row &row : rows) {
        const RunResult &r = row.result;
        const QString painted = r.paintedMs.empty()
                                    ? QStringLiteral("%1 %2").arg("-", 10).arg("-", 10)
                                    : QStringLiteral("%1 %2").arg(percentile(r.paintedMs, 0.5), 10, 'f', 2)
                                          .arg(percentile(r.paintedMs, 0.99), 10, 'f', 2);
        std::printf("%-28s %6d %7d %6d %6.0f %8.2f %8.2f %s\n", qPrintable(row.name), r.sent, r.handled,
                    r.sent - r.handled + r.wrong, 1000.0 / row.intervalMs, percentile(r.rowMs, 0.5),
                    percentile(r.rowMs, 0.99), qPrintable(painted));
    }
    std::printf("data file lines: %d, records handled: %d, operator messages: %d\n", fileLines, written, op.messages);
    std::printf("targets: median <= 50 ms, p99 <= 80 ms, 10 records/s without loss\n");
    return 0;
}
