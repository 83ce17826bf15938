// velomark-cli encrypt: the encrypted export of a file for one certificate, chosen by its
// subject name in the current user's store or given as a certificate file.
#include "cli.h"
#include "crypto/exportflow.h"

#include <QFile>

namespace cli {

int runEncrypt(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("Subject name of the recipient's certificate (as 'certs' prints it)."),
                                QStringLiteral("SUBJECT"));
    const QCommandLineOption certFile(QStringLiteral("cert-file"),
                                      QStringLiteral("The recipient's certificate file (PEM or DER)."),
                                      QStringLiteral("PEM"));
    parser.addOption(to);
    parser.addOption(certFile);
    parser.addPositionalArgument(QStringLiteral("IN"), QStringLiteral("The file to encrypt."));
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("The enveloped-data file (DER) to write."));
    int exitCode = Success;
    if (!parseArguments(parser, args, QStringLiteral("Encrypts a file for one certificate (CMS enveloped data, DER)."),
                        &exitCode))
        return exitCode;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2)
        return usageError(QStringLiteral("encrypt needs IN and OUT"));
    if (parser.isSet(to) == parser.isSet(certFile))
        return usageError(QStringLiteral("encrypt needs exactly one of --to and --cert-file"));

    QFile input(files.at(0));
    if (!input.open(QIODevice::ReadOnly))
        return usageError(QStringLiteral("cannot read %1: %2").arg(files.at(0), input.errorString()));
    const QByteArray data = input.readAll();
    input.close();
    if (data.isEmpty()) {
        err() << "velomark-cli: " << files.at(0) << " is empty: nothing to encrypt" << Qt::endl;
        return Failed;
    }

    CliOperator op;
    velomark::Encryptor encryptor;
    velomark::configureExportEncryptor(encryptor);
    velomark::ExportOutcome outcome;
    if (parser.isSet(certFile)) {
        velomark::Certificate certificate;
        if (!certificate.LoadFromFile(QFile::encodeName(parser.value(certFile)).toStdString()))
            return usageError(QStringLiteral("cannot read a certificate from %1").arg(parser.value(certFile)));
        outcome = velomark::encryptDataFileFor(op, encryptor, certificate, data, files.at(1));
    } else {
        velomark::CertificateList certificates;
        if (!velomark::loadCertificates(op, certificates))
            return Failed;
        outcome = velomark::encryptDataFile(op, encryptor, certificates, data, parser.value(to), files.at(1));
    }
    return outcome == velomark::ExportOutcome::Written ? Success : Failed;
}

}  // namespace cli
