// velomark-cli decode: a dump file as the log CSV that Save on the log tab writes.
#include <QCommandLineParser>
#include <QFile>
#include <QTextStream>

#include <cstdio>

#include "cli.h"
#include "log/logdecoder.h"
#include "log/logrows.h"

namespace cli {

int runDecode(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption lidarId(QStringLiteral("lidar-id"),
                                     QStringLiteral("Lidar_Id of every row (its last five characters)."),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("First day shown (YYYY-MM-DD); needs --to."),
                                  QStringLiteral("DATE"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("Last day shown (YYYY-MM-DD); needs --from."),
                                QStringLiteral("DATE"));
    parser.addOptions({lidarId, from, to});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The dump file (logDump.txt)."));
    int exitCode = Success;
    if (!parseArguments(parser, args, QStringLiteral("Decodes a log dump file and prints the log CSV."),
                        &exitCode))
        return exitCode;

    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("decode needs exactly one FILE"));
    if (parser.isSet(from) != parser.isSet(to))
        return usageError(QStringLiteral("--from and --to go together"));

    velomark::LogDateFilter filter = velomark::LogDateFilter::all();
    if (parser.isSet(from)) {
        const QDate start = QDate::fromString(parser.value(from), Qt::ISODate);
        const QDate end = QDate::fromString(parser.value(to), Qt::ISODate);
        if (!start.isValid() || !end.isValid())
            return usageError(QStringLiteral("DATE must be YYYY-MM-DD"));
        filter = velomark::LogDateFilter::between(start, end);
    }

    const QString path = parser.positionalArguments().constFirst();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return usageError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    const QVector<velomark::SpeedRecord> records = velomark::decodeLogDump(file.readAll());

    const QByteArray csv = velomark::logCsvText(
        velomark::logRows(records, filter, velomark::lidarIdOf(parser.value(lidarId))));
    out().flush();
    // The CSV bytes go out as they are, the same bytes Save writes.
    if (std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout) != size_t(csv.size())
        || std::fflush(stdout) != 0) {
        err() << "velomark-cli: writing the CSV failed" << Qt::endl;
        return Failed;
    }
    return Success;
}

}  // namespace cli
