// velomark-cli sign: signs a download record with a certificate and private key of the
// current user's certificate database (RECORD.json.p7s beside it).
#include <QCommandLineParser>

#include "cli.h"
#include "log/downloadrecord.h"

namespace cli {

int runSign(const QStringList &args)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("RECORD"), QStringLiteral("The download record (.json) to sign."));
    const QCommandLineOption with(QStringLiteral("with"),
                                  QStringLiteral("The nickname of the signing certificate in the certificate "
                                                 "database; it needs its private key there or on a token."),
                                  QStringLiteral("NICKNAME"));
    parser.addOption(with);
    int exitCode = Success;
    if (!parseArguments(parser, args,
                        QStringLiteral("Signs a download record: writes RECORD.json.p7s, a detached CMS signed-data "
                                       "message (DER, SHA-256) over the record's bytes, made "
#ifdef Q_OS_WIN
                                       "with the certificate NICKNAME (its friendly name, else its common name) of "
                                       "the current user's certificate store and its private key. 'velomark-cli "
#else
                                       "by NSS with the certificate NICKNAME of ~/.pki/nssdb (or "
                                       "$XDG_DATA_HOME/pki/nssdb) and its private key. A password or PIN is asked on "
                                       "the terminal. 'velomark-cli "
#endif
                                       "verify' checks the signature; so does 'openssl cms -verify -binary -inform "
                                       "DER -in RECORD.json.p7s -content RECORD.json -noverify'. Exit status 1 when the record "
                                       "cannot be signed, 2 when it cannot be read or is no download record."),
                        &exitCode))
        return exitCode;
    if (parser.positionalArguments().size() != 1)
        return usageError(QStringLiteral("sign takes one download record"));
    if (!parser.isSet(with))
        return usageError(QStringLiteral("sign needs --with NICKNAME"));
    const QString path = parser.positionalArguments().first();
    const velomark::LoadedRecord loaded = velomark::loadDownloadRecord(path);
    if (!loaded.record) {
        err() << "velomark-cli: " << loaded.error << Qt::endl;
        return Usage;
    }
    return signRecord(path, parser.value(with), terminalPinPrompt()) ? Success : Failed;
}

}  // namespace cli
