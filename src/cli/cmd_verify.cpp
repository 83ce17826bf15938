// velomark-cli verify: checks that the dump and every saved file of a download record still
// have the digests the record holds.
#include <QCommandLineParser>

#include "cli.h"
#include "log/downloadrecord.h"

namespace cli {

int runVerify(const QStringList &args)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("RECORD"), QStringLiteral("The download record (.json) to check."));
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Recomputes the SHA-256 of the dump and of every saved file that a download "
                                       "record lists and prints one line per file: OK, MISMATCH or MISSING, "
                                       "the kind (dump or saved) and the file's name. Exit status 0 only when "
                                       "every file matches, 1 otherwise, 2 when the record cannot be read or is "
                                       "no download record."),
                        &exitCode))
        return exitCode;
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("verify takes one download record"));

    const velomark::LoadedRecord loaded = velomark::loadDownloadRecord(parser.positionalArguments().first());
    if (!loaded.record) {
        err() << "velomark-cli: " << loaded.error << Qt::endl;
        return Usage;
    }
    // Each file the record vouches for is one line; a signature over the record would be checked
    // before them, as one more line.
    bool allMatch = true;
    for (const velomark::VerifiedFile &file : velomark::verifyDownloadFiles(*loaded.record)) {
        static const char *const kStatus[] = {"OK", "MISMATCH", "MISSING"};
        out() << kStatus[file.status] << ' ' << file.kind << ' ' << file.file << Qt::endl;
        allMatch = allMatch && file.status == velomark::VerifiedFile::Ok;
    }
    return allMatch ? Success : Failed;
}

}  // namespace cli
