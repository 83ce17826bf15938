#pragma once
// Shared pieces of the command-line front end: the operator that speaks on standard error,
// argument parsing with the exit codes of the command line, and the command table.
#include <QCommandLineParser>
#include <QFile>
#include <QStringList>
#include <QTextStream>

#include "chart/speedstats.h"
#include "common/operatorinterface.h"
#include "crypto/recordsigner.h"
#include "lidar/lidarconnection.h"
#include "lidar/lidarentry.h"
#include "log/filerows.h"
#include "log/logrows.h"

#include <memory>
#include <optional>

namespace cli {

enum ExitCode { Success = 0, Failed = 1, Usage = 2 };

// Operator messages go to standard error, one per line, as the window words them.
// Questions are answered by the --yes option, never from standard input.
class CliOperator : public velomark::OperatorInterface
{
public:
    explicit CliOperator(bool answerYes = false) : m_yes(answerYes) {}
    void inform(const QString &title, const QString &text) override;
    bool ask(const QString &title, const QString &text) override;
    QString chooseSaveFile(const QString &, const QString &, const QString &, bool) override { return {}; }
    QString chooseOpenFile(const QString &, const QString &, const QString &) override { return {}; }
    void showWait(const QString &) override {}
    void setWaitText(const QString &) override {}
    void showConnecting(const QString &text) override;
    void closeWait() override {}
    int messageCount() const { return m_messages; }

private:
    bool m_yes;
    int m_messages = 0;
};

QTextStream &out();  // standard output
QTextStream &err();  // standard error

// Parses the arguments of one command (args[0] is the command's name). Returns true when
// the command should run; otherwise *exitCode is set (0 after --help, 2 for bad usage) and
// the reason has been printed.
bool parseArguments(QCommandLineParser &parser, const QStringList &args, const QString &summary,
                    int *exitCode);

// Prints a usage error to standard error; returns ExitCode::Usage.
int usageError(const QString &text);

// The whole number an option gives, within [low, high]; false after a usage error (printed
// here, *exitCode set to 2).
bool wholeNumberOption(const QCommandLineParser &parser, const QCommandLineOption &option, int low, int high,
                       int *value, int *exitCode);

// The lidar a command talks to: the text the connection selects it by, and its name, the
// source of the Lidar_Id. They differ only for a --port without --name that no listed lidar
// has: the port path selects it and the name stays empty.
struct SelectedLidar
{
    QString listText;
    QString name;
};

// The options that choose a lidar: --port PATH (with --name NAME for its name) or --lidar NAME
// (discovery, first match by name, as the window does).
struct LidarOptions
{
    // namesRows: the command stamps the lidar's name into its rows (Lidar_Id); a --port without
    // --name then takes the name of the listed lidar on that port, or none (said on standard
    // error), never the port path.
    explicit LidarOptions(bool namesRows = false);
    void addTo(QCommandLineParser &parser) const;
    // Makes the chosen lidar the connection's only list entry. Nothing when there is none:
    // then *exitCode is 2 for bad usage (printed here) or 1 when discovery did not find the
    // lidar (the operator was told why).
    std::optional<SelectedLidar> select(const QCommandLineParser &parser, velomark::LidarConnection &connection,
                                        int *exitCode) const;

    bool namesRows;
    QCommandLineOption port;
    QCommandLineOption lidar;
    QCommandLineOption name;
};

// After a command could not connect: the system's reason when the port would not open, on the
// line after the connection's "please make sure it is powered on"; nothing otherwise.
void tellOpenError(const velomark::LidarConnection &connection);

// --from DATE --to DATE (YYYY-MM-DD, both or neither): the log tab's date filter; without
// them every accepted record is shown, as with "Retrieve All Records".
struct DateFilterOptions
{
    DateFilterOptions();
    void addTo(QCommandLineParser &parser) const;
    // The filter, or nothing after a usage error (printed here, *exitCode set to 2), among
    // them a --from after --to.
    std::optional<velomark::LogDateFilter> filter(const QCommandLineParser &parser, int *exitCode) const;

    QCommandLineOption from;
    QCommandLineOption to;
};

// A dump file's bytes: a mapping of the file, so that a dump of millions of lines is not
// copied; what cannot be mapped (a pipe, say) is read.
struct DumpFile
{
    // False when the file cannot be read (printed here, *exitCode set to 2).
    bool open(const QString &path, int *exitCode);
    QFile file;
    QByteArray bytes;
};

// The input of a speed study (stats, report): the --unit, --limit and date options checked,
// FILE (a dump, a log CSV or a live data file) read and its figures computed. Null when an
// option or the file was refused (told, *exitCode set).
struct StudyInput
{
    QString path;
    DumpFile file;  // its bytes are the file's mapping: they live as long as this
    int limit = 0;
    velomark::LogDateFilter filter;
    velomark::FileRows rows;
    velomark::SpeedStats stats;
};
std::unique_ptr<StudyInput> readStudyInput(const QCommandLineParser &parser, const QCommandLineOption &unit,
                                           const QCommandLineOption &limit, const DateFilterOptions &dates,
                                           int *exitCode);

// Asks for a token's password or PIN on the terminal (/dev/tty) without echo, at most three
// times; nothing without a terminal. A PIN that was accepted is offered again first, so a
// command that signs twice asks once.
velomark::PinPrompt terminalPinPrompt();

// Signs a download record with --sign's nickname (the retrieval signs again after each change to
// its record); false after telling why on standard error.
bool signRecord(const QString &recordPath, const QString &nickname, const velomark::PinPrompt &prompt);

struct Command
{
    const char *name;
    const char *summary;
    int (*run)(const QStringList &args);
};

// Defined in main.cpp: every command of the program.
const QList<Command> &commands();

}  // namespace cli
