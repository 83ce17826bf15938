// velomark-cli decode: a dump file as the log CSV that Save on the log tab writes.
#include <QCommandLineParser>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <limits>

#include "cli.h"
#include "log/logfiles.h"
#include "log/logrows.h"

namespace cli {

int runDecode(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption lidarId(QStringLiteral("lidar-id"),
                                     QStringLiteral("Lidar_Id of every row (its last five characters)."),
                                     QStringLiteral("TEXT"));
    const DateFilterOptions dates;
    parser.addOption(lidarId);
    dates.addTo(parser);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The dump file (logDump.txt)."));
    int exitCode = Success;
    if (!parseArguments(parser, args, QStringLiteral("Decodes a log dump file and prints the log CSV."),
                        &exitCode))
        return exitCode;

    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("decode needs exactly one FILE"));

    const std::optional<velomark::LogDateFilter> filter = dates.filter(parser, &exitCode);
    if (!filter)
        return exitCode;

    const QString path = parser.positionalArguments().constFirst();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return usageError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    // A dump of millions of lines is read through a mapping of the file rather than copied;
    // what cannot be mapped (a pipe, say) is read.
    const qint64 size = file.size();
    uchar *mapped = size > 0 && size < std::numeric_limits<int>::max() ? file.map(0, size) : nullptr;
    const QByteArray dump = mapped ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), int(size))
                                   : file.readAll();

    out().flush();
    // The CSV bytes go out as they are, the same bytes Save writes.
    const bool written = velomark::writeDumpCsv(
        dump, *filter, velomark::lidarIdOf(parser.value(lidarId)), [](const QByteArray &csv) {
            return std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout) == size_t(csv.size());
        });
    if (!written || std::fflush(stdout) != 0) {
        err() << "velomark-cli: writing the CSV failed" << Qt::endl;
        return Failed;
    }
    return Success;
}

}  // namespace cli
