// velomark-cli retrieve: the whole retrieval (diagnostic mode, dump, decode, restore) and the
// log CSV that Save on the log tab would write for the same rows.
#include <QCommandLineParser>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>

#include <cstdio>
#include <unistd.h>

#include "cli.h"
#include "common/trace.h"
#include "lidar/diagnostics.h"
#include "lidar/lidarconnection.h"
#include "interrupts.h"
#include "log/downloadrecord.h"
#include "log/dumpreader.h"
#include "log/logdecoder.h"
#include "log/logfiles.h"
#include "log/logrows.h"
#include "log/retrieval.h"

namespace cli {

namespace {

bool writeToStdout(const QByteArray &bytes)
{
    out().flush();
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size())
           && std::fflush(stdout) == 0;
}

// How much of the dump has arrived, on standard error: one line rewritten in place on a
// terminal, a line every few seconds otherwise (only when more has arrived), or nothing.
class DumpProgress
{
public:
    enum class Mode { Quiet, Terminal, Lines };
    static constexpr qint64 kLineIntervalMs = 5000;

    explicit DumpProgress(Mode mode) : m_mode(mode) { m_clock.start(); }

    // Called while the dump runs, a few times a second.
    void update(qint64 bytes, qint64 lines)
    {
        if (m_mode == Mode::Terminal) {
            show(bytes, lines);
        } else if (m_mode == Mode::Lines && bytes > m_shownBytes
                   && m_clock.elapsed() - m_shownAtMs >= kLineIntervalMs) {
            m_shownAtMs = m_clock.elapsed();
            show(bytes, lines);
        }
    }
    // The dump has ended: the terminal's line shows the final count and is closed.
    void finish(qint64 bytes, qint64 lines)
    {
        if (m_mode != Mode::Terminal)
            return;
        show(bytes, lines);
        err() << Qt::endl;
    }

private:
    void show(qint64 bytes, qint64 lines)
    {
        m_shownBytes = bytes;
        const QString text = QStringLiteral("Retrieving: %1 bytes, %2 lines, %3 s")
                                 .arg(bytes)
                                 .arg(lines)
                                 .arg(m_clock.elapsed() / 1000);
        if (m_mode == Mode::Terminal)
            err() << '\r' << text << Qt::flush;
        else
            err() << text << Qt::endl;
    }

    Mode m_mode;
    QElapsedTimer m_clock;
    qint64 m_shownAtMs = 0;
    qint64 m_shownBytes = 0;
};

bool writeFailed(const QString &path, const velomark::FileWriteResult &result)
{
    if (result.ok)
        return false;
    err() << "velomark-cli: writing " << path << " failed: " << result.errorString << Qt::endl;
    return true;
}

// The lidar as the record names it, read while the connection still knows it (a lost link
// forgets it).

}  // namespace

int runRetrieve(const QStringList &args)
{
    QCommandLineParser parser;
    const LidarOptions lidarOptions(true);
    lidarOptions.addTo(parser);
    const DateFilterOptions dates;
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Writes the log CSV into FILE instead of standard output."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption dumpFile(QStringLiteral("dump"),
                                      QStringLiteral("Writes the raw dump bytes into FILE."), QStringLiteral("FILE"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("Shows no progress while the dump arrives."));
    const QCommandLineOption archive(
        QStringLiteral("archive"),
#ifdef Q_OS_WIN
        QStringLiteral("Keeps the dump and its download record in DIR instead of %LOCALAPPDATA%\\velomark\\downloads."),
#else
        QStringLiteral("Keeps the dump and its download record in DIR instead of "
                       "$XDG_DATA_HOME/velomark/downloads (~/.local/share/velomark/downloads)."),
#endif
        QStringLiteral("DIR"));
    const QCommandLineOption eraseAfter(
        QStringLiteral("erase-after"),
        QStringLiteral("Erases the lidar's log after the download, only when it was complete, the lidar left "
                       "diagnostic mode and the dump and its record were archived; otherwise nothing is "
                       "erased and the exit status is 1."));
    const QCommandLineOption sign(
        QStringLiteral("sign"),
        QStringLiteral("Signs the download record with the certificate NICKNAME of the certificate database "
                       "(as 'velomark-cli sign' does), again whenever the record changes; a record that cannot "
                       "be signed makes the exit status 1."),
        QStringLiteral("NICKNAME"));
    dates.addTo(parser);
    parser.addOptions({output, dumpFile, quiet, archive, eraseAfter, sign});
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Retrieves the log stored in a lidar and prints it as the log CSV. "
                                       "Exit status 1 also when the connection was lost during the "
                                       "download or SIGINT or SIGTERM cut it short (the rows and dump bytes "
                                       "that arrived are still written), or the lidar did not confirm that "
                                       "it left diagnostic mode. Every download that brought bytes is "
                                       "archived: the dump byte for byte as NAME_yyyyMMddTHHmmssZ.dump and "
                                       "its download record (.json: lidar, workstation, operator, times, how "
                                       "the download ended, SHA-256 of the dump and of the --output file) "
                                       "beside it, signed with --sign; 'velomark-cli verify' checks them."),
                        &exitCode))
        return exitCode;
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    const std::optional<velomark::LogDateFilter> filter = dates.filter(parser, &exitCode);
    if (!filter)
        return exitCode;

    CliOperator op;
    velomark::LidarConnection connection(op);
    const std::optional<SelectedLidar> selected = lidarOptions.select(parser, connection, &exitCode);
    if (!selected)
        return exitCode;

    catchInterrupts();
    const QString archiveDir = parser.isSet(archive) ? parser.value(archive) : velomark::defaultDownloadArchive();
    if (velomark::prepareRetrieval(connection, selected->listText, op) != velomark::PrepareOutcome::Ready) {
        tellOpenError(connection);
        connection.CloseLidarPort();
        return Failed;
    }
    QByteArray dump;
    QString pendingMessage;
    velomark::ThreadReadDataDump reader(dump, pendingMessage);
    velomark::DownloadFacts facts;
    facts.lidar = velomark::downloadLidarOf(connection, selected->name);
    if (!filter->allRecords)
        facts.filter = *filter;
    facts.started = QDateTime::currentDateTimeUtc();
    {
        DumpProgress progress(parser.isSet(quiet)           ? DumpProgress::Mode::Quiet
                              : ::isatty(STDERR_FILENO) != 0 ? DumpProgress::Mode::Terminal
                                                             : DumpProgress::Mode::Lines);
        reader.startDump(*connection.transport());
        // An interrupt before the dump began still ends it at once, as a stop request.
        while (!reader.wait(100)) {
            if (interrupted())
                reader.requestStop();
            progress.update(reader.bytesReceived(), reader.linesReceived());
        }
        progress.finish(reader.bytesReceived(), reader.linesReceived());
    }
    // The same steps as the window's: a lost link is released and told, otherwise the lidar
    // leaves DIAG mode (an empty or interrupted dump included).
    const velomark::DownloadResult result =
        velomark::finishDownload(connection, reader, selected->listText, pendingMessage, op, {});
    facts.finished = QDateTime::currentDateTimeUtc();
    facts.end = velomark::downloadEndText(result.end, true);
    facts.diagnosticModeLeft = result.diagnosticModeLeft;

    std::optional<velomark::DownloadRecord> record;
    // Every rewrite of the record is signed again, so the signature always covers its final bytes.
    const velomark::PinPrompt pinPrompt = terminalPinPrompt();
    bool signFailed = false;
    const auto signAgain = [&]() {
        if (parser.isSet(sign) && record)
            signFailed = !signRecord(record->path, parser.value(sign), pinPrompt) || signFailed;
    };
    if (!dump.isEmpty()) {
        velomark::ArchiveResult archived = velomark::archiveDownload(archiveDir, dump, facts);
        if (archived.error.isEmpty())
            record = archived.record;
        else
            err() << "velomark-cli: archiving the download failed: " << archived.error << Qt::endl;
        signAgain();
    }
    // The log is erased only when a whole copy of it is kept, and while the lidar is still connected.
    bool eraseFailed = false;
    if (parser.isSet(eraseAfter)) {
        eraseFailed = true;
        if (result.end != velomark::DownloadEnd::Complete || !result.diagnosticModeLeft || !record) {
            err() << "velomark-cli: the lidar's log was not erased: the download was not complete and archived"
                  << Qt::endl;
        } else if (!velomark::EraseLidarData(*connection.transport(), op)) {
            err() << "velomark-cli: the lidar did not confirm the erase" << Qt::endl;
        } else {
            err() << velomark::kEraseSucceeded << Qt::endl;
            const QString error = velomark::addErase(*record, QDateTime::currentDateTimeUtc());
            signAgain();
            if (!error.isEmpty())
                err() << "velomark-cli: the log was erased, but its record was not updated: " << error << Qt::endl;
            eraseFailed = !error.isEmpty();
        }
    }
    connection.CloseLidarPort();
    if (result.end == velomark::DownloadEnd::Stopped)
        err() << "velomark-cli: interrupted: the log is incomplete" << Qt::endl;

    // What did arrive is written also after a failure, so nothing received is lost.
    if (parser.isSet(dumpFile)
        && writeFailed(parser.value(dumpFile), velomark::writeLogDump(dump, parser.value(dumpFile))))
        return Failed;
    QByteArray csv;
    velomark::writeDumpCsv(dump, *filter, velomark::lidarIdOf(selected->name), [&csv](const QByteArray &piece) {
        csv += piece;
        return true;
    });
    if (parser.isSet(output)) {
        if (writeFailed(parser.value(output), velomark::writeLogCsv(csv, parser.value(output))))
            return Failed;
        if (record) {
            const QString error = velomark::addSavedFile(*record, parser.value(output), csv.count('\n') - 1);
            signAgain();
            if (!error.isEmpty()) {
                err() << "velomark-cli: the download record was not updated: " << error << Qt::endl;
                return Failed;
            }
        }
    } else if (!writeToStdout(csv)) {
        err() << "velomark-cli: writing the CSV failed" << Qt::endl;
        return Failed;
    }
    const bool whole = result.end == velomark::DownloadEnd::Complete || result.end == velomark::DownloadEnd::Empty;
    const bool archived = dump.isEmpty() || record;
    return whole && result.diagnosticModeLeft && archived && !eraseFailed && !signFailed ? Success : Failed;
}

}  // namespace cli
