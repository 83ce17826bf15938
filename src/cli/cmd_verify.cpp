// velomark-cli verify: checks the record's signature, when it has one, and that the dump and
// every saved file of a download record still have the digests the record holds.
#include <QCommandLineParser>

#include "cli.h"
#include "crypto/recordsignature.h"
#include "log/downloadrecord.h"

namespace cli {

int runVerify(const QStringList &args)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("RECORD"), QStringLiteral("The download record (.json) to check."));
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Checks the record's signature when RECORD.p7s lies beside it (OK signature "
                                       "FILE (signed by SUBJECT), or MISMATCH signature FILE when the record's bytes "
                                       "or the signature changed; whether the signer is trusted is not checked), then "
                                       "recomputes the SHA-256 of the dump and of every saved file that a download "
                                       "record lists and prints one line per file: OK, MISMATCH or MISSING, "
                                       "the kind (dump or saved) and the file's name. Exit status 0 only when "
                                       "the signature and every file match, 1 otherwise, 2 when the record cannot "
                                       "be read or is no download record."),
                        &exitCode))
        return exitCode;
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("verify takes one download record"));

    const velomark::LoadedRecord loaded = velomark::loadDownloadRecord(parser.positionalArguments().first());
    if (!loaded.record) {
        err() << "velomark-cli: " << loaded.error << Qt::endl;
        return Usage;
    }
    // The signature vouches for the record and the record for the files, so it comes first.
    const velomark::SignatureCheck signature = velomark::checkRecordSignature(loaded.record->path);
    if (signature.status == velomark::SignatureCheck::Ok)
        out() << "OK signature " << signature.file << " (signed by " << signature.signer << ')' << Qt::endl;
    else if (signature.status == velomark::SignatureCheck::Mismatch)
        out() << "MISMATCH signature " << signature.file << Qt::endl;
    bool allMatch = signature.status != velomark::SignatureCheck::Mismatch;
    for (const velomark::VerifiedFile &file : velomark::verifyDownloadFiles(*loaded.record)) {
        static const char *const kStatus[] = {"OK", "MISMATCH", "MISSING"};
        out() << kStatus[file.status] << ' ' << file.kind << ' ' << file.file << Qt::endl;
        allMatch = allMatch && file.status == velomark::VerifiedFile::Ok;
    }
    return allMatch ? Success : Failed;
}

}  // namespace cli
