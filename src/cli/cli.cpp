#include "cli.h"
#include "console.h"

#include <QCoreApplication>

#include <cstdio>
#include <limits>
#include <memory>

#include "crypto/recordsignature.h"

#include "lidar/discovery/discovery.h"

namespace cli {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

void CliOperator::inform(const QString &, const QString &text)
{
    ++m_messages;
    err() << text << Qt::endl;
}

void CliOperator::showConnecting(const QString &text)
{
    // Not a message: the command line says what it waits for without counting it.
    err() << text << Qt::endl;
}

bool CliOperator::ask(const QString &, const QString &text)
{
    err() << text << (m_yes ? " yes" : " no (answer with --yes)") << Qt::endl;
    return m_yes;
}

bool parseArguments(QCommandLineParser &parser, const QStringList &args, const QString &summary,
                    int *exitCode)
{
    parser.setApplicationDescription(summary);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    parser.addOption(QCommandLineOption(QStringLiteral("trace"),
                                        QStringLiteral("Writes trace lines to standard error.")));
    if (!parser.parse(args)) {
        *exitCode = usageError(parser.errorText());
        return false;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // QCommandLineParser names the program by its path; name the program and the command.
        const QString program = QCoreApplication::arguments().value(0);
        text.replace(QStringLiteral("Usage: ") + program,
                     QStringLiteral("Usage: velomark-cli ") + args.value(0));
        out() << text;
        out().flush();
        *exitCode = Success;
        return false;
    }
    return true;
}

namespace {

std::optional<velomark::LidarEntry> listedLidarOnPort(const QString &portName)
{
    // Discovery behind a --port stays quiet: a lidar that is not listed is no error there.
    velomark::SilentOperator silent;
    for (const velomark::LidarEntry &entry : velomark::enumerateLidars(silent)) {
        if (entry.portName == portName)
            return entry;
    }
    return std::nullopt;
}

}  // namespace

LidarOptions::LidarOptions(bool namesRows)
    : namesRows(namesRows),
      port(QStringLiteral("port"),
#ifdef Q_OS_WIN
           QStringLiteral("The lidar's port: the COM port Windows gave the paired lidar (COM7)."),
#else
           QStringLiteral("The lidar's port: a serial device path, or bluetooth:ADDRESS for a paired lidar."),
#endif
           QStringLiteral("PATH")),
      lidar(QStringLiteral("lidar"),
            QStringLiteral("Finds the lidar by discovery, first match by name."), QStringLiteral("NAME")),
      name(QStringLiteral("name"),
           namesRows ? QStringLiteral("The lidar's name with --port; its last five characters are the "
                                      "Lidar_Id. Without it: the name of the listed lidar on that port, "
                                      "else an empty Lidar_Id.")
                     : QStringLiteral("The lidar's name with --port, used in messages (default: the port path)."),
           QStringLiteral("NAME"))
{
}

void LidarOptions::addTo(QCommandLineParser &parser) const
{
    parser.addOption(port);
    parser.addOption(lidar);
    parser.addOption(name);
}

std::optional<SelectedLidar> LidarOptions::select(const QCommandLineParser &parser,
                                                  velomark::LidarConnection &connection, int *exitCode) const
{
    const bool byPort = parser.isSet(port);
    const bool byName = parser.isSet(lidar);
    if (byPort == byName) {
        *exitCode = usageError(QStringLiteral("give either --port PATH or --lidar NAME"));
        return std::nullopt;
    }
    std::optional<velomark::LidarEntry> found;
    QString name;
    if (byPort) {
        QString path = parser.value(port);
        // Written as discovery lists it, so that the listed lidar is found by its port.
        const QString bluetoothAddress = velomark::bluetoothPortAddress(path);
        if (!bluetoothAddress.isEmpty())
            path = velomark::bluetoothPortName(QString(bluetoothAddress).remove(QLatin1Char(':')));
        if (path.isEmpty()) {
            *exitCode = usageError(QStringLiteral("--port needs a path"));
            return std::nullopt;
        }
        if (parser.isSet(this->name)) {
            found = velomark::LidarEntry{QString(), parser.value(this->name), path};
            name = found->name;
        } else if (namesRows) {
            found = listedLidarOnPort(path);
            if (found) {
                name = found->name;
            } else {
                // The connection selects its entry by a non-empty text: the path does, and
                // the rows get no name.
                found = velomark::LidarEntry{QString(), path, path};
                err() << "no lidar name given: Lidar_Id left empty (use --name)" << Qt::endl;
            }
        } else {
            found = velomark::LidarEntry{QString(), path, path};
            name = path;
        }
    } else {
        if (parser.isSet(this->name)) {
            *exitCode = usageError(QStringLiteral("--name goes with --port; --lidar uses the discovered name"));
            return std::nullopt;
        }
        found = velomark::discoverLidarByName(parser.value(lidar), connection.operatorInterface());
        if (!found) {
            *exitCode = Failed;
            return std::nullopt;
        }
        name = found->name;
    }
    connection.lidars = {*found};
    return SelectedLidar{found->name, name};
}

void tellOpenError(const velomark::LidarConnection &connection)
{
    if (!connection.openError().isEmpty())
        err() << connection.openError() << Qt::endl;
}

DateFilterOptions::DateFilterOptions()
    : from(QStringLiteral("from"), QStringLiteral("First day shown (YYYY-MM-DD), not after --to; needs --to."),
           QStringLiteral("DATE")),
      to(QStringLiteral("to"), QStringLiteral("Last day shown (YYYY-MM-DD); needs --from."),
         QStringLiteral("DATE"))
{
}

void DateFilterOptions::addTo(QCommandLineParser &parser) const
{
    parser.addOption(from);
    parser.addOption(to);
}

std::optional<velomark::LogDateFilter> DateFilterOptions::filter(const QCommandLineParser &parser,
                                                                 int *exitCode) const
{
    if (parser.isSet(from) != parser.isSet(to)) {
        *exitCode = usageError(QStringLiteral("--from and --to go together"));
        return std::nullopt;
    }
    if (!parser.isSet(from))
        return velomark::LogDateFilter::all();
    const QDate start = QDate::fromString(parser.value(from), Qt::ISODate);
    const QDate end = QDate::fromString(parser.value(to), Qt::ISODate);
    if (!start.isValid() || !end.isValid()) {
        *exitCode = usageError(QStringLiteral("DATE must be YYYY-MM-DD"));
        return std::nullopt;
    }
    if (start > end) {
        *exitCode = usageError(QStringLiteral("--from %1 is after --to %2").arg(parser.value(from), parser.value(to)));
        return std::nullopt;
    }
    return velomark::LogDateFilter::between(start, end);
}

bool DumpFile::open(const QString &path, int *exitCode)
{
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *exitCode = usageError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    const qint64 size = file.size();
    uchar *mapped = size > 0 && size < std::numeric_limits<int>::max() ? file.map(0, size) : nullptr;
    bytes = mapped ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), int(size)) : file.readAll();
    return true;
}

velomark::PinPrompt terminalPinPrompt()
{
    struct State
    {
        std::optional<std::string> accepted;
        int asked = 0;
    };
    auto state = std::make_shared<State>();
    return [state](const std::string &token, bool retry) -> std::optional<std::string> {
        if (retry)
            state->accepted.reset();
        else if (state->accepted)
            return state->accepted;
        // Three wrong answers are enough: NSS would ask for ever.
        if (state->asked >= 3)
            return std::nullopt;
        ++state->asked;
        const std::string question = (retry ? "Wrong password or PIN. " : "") + std::string("Password or PIN for ")
                                     + token + ": ";
        state->accepted = readHiddenLine(question);
        return state->accepted;
    };
}

bool signRecord(const QString &recordPath, const QString &nickname, const velomark::PinPrompt &prompt)
{
    const QString error = velomark::signRecordFile(recordPath, nickname, prompt);
    if (!error.isEmpty()) {
        err() << "velomark-cli: the record was not signed: " << error << Qt::endl;
        return false;
    }
    return true;
}

int usageError(const QString &text)
{
    err() << "velomark-cli: " << text << Qt::endl << "Try 'velomark-cli --help'." << Qt::endl;
    return Usage;
}

bool wholeNumberOption(const QCommandLineParser &parser, const QCommandLineOption &option, int low, int high,
                       int *value, int *exitCode)
{
    bool ok = false;
    const int number = parser.value(option).toInt(&ok);
    if (!ok || number < low || number > high) {
        *exitCode = usageError(QStringLiteral("--%1 needs a whole number from %2 to %3")
                                   .arg(option.names().constFirst())
                                   .arg(low)
                                   .arg(high));
        return false;
    }
    *value = number;
    return true;
}

std::unique_ptr<StudyInput> readStudyInput(const QCommandLineParser &parser, const QCommandLineOption &unit,
                                           const QCommandLineOption &limit, const DateFilterOptions &dates,
                                           int *exitCode)
{
    const QString unitName = parser.value(unit);
    if (parser.isSet(unit) && unitName != QLatin1String("km/h") && unitName != QLatin1String("mph")) {
        *exitCode = usageError(QStringLiteral("--unit is km/h or mph, not '%1'").arg(unitName));
        return nullptr;
    }
    int limitValue = 0;
    if (!wholeNumberOption(parser, limit, 0, 999, &limitValue, exitCode))
        return nullptr;
    const std::optional<velomark::LogDateFilter> filter = dates.filter(parser, exitCode);
    if (!filter)
        return nullptr;
    auto input = std::make_unique<StudyInput>();
    input->path = parser.positionalArguments().constFirst();
    input->filter = *filter;
    input->limit = limitValue;
    if (!input->file.open(input->path, exitCode))
        return nullptr;
    // A live data file says no unit: its speeds are taken in the unit asked, km/h by default.
    input->rows = velomark::fileRows(input->file.bytes, *filter, unitName.isEmpty() ? QStringLiteral("km/h") : unitName);
    input->stats = velomark::speedStats(input->rows.rows, limitValue, unitName);
    return input;
}

}  // namespace cli
