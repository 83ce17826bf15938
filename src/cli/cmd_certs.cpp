// velomark-cli certs: the current user's certificates, one subject name a line, store order.
#include "cli.h"
#include "crypto/exportflow.h"

namespace cli {

int runCerts(const QStringList &args)
{
    QCommandLineParser parser;
    int exitCode = Success;
    if (!parseArguments(parser, args, QStringLiteral("Lists the subject names of the current user's certificates."),
                        &exitCode))
        return exitCode;
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("certs takes no arguments"));
    CliOperator op;
    velomark::CertificateList certificates;
    if (!velomark::loadCertificates(op, certificates))
        return Failed;
    for (const QString &name : velomark::certificateNames(certificates))
        out() << name << '\n';
    out().flush();
    return Success;
}

}  // namespace cli
