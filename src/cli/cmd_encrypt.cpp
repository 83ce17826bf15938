// velomark-cli encrypt: the encrypted export of a file for one certificate, chosen by its
// subject name in the current user's store or given as a certificate file.
#include "cli.h"
#include "crypto/exportflow.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace cli {

namespace {

// True when both names lead to one file: the same path, a link to it, or another hard link.
bool sameFile(const QString &a, const QString &b)
{
#ifdef Q_OS_UNIX
    struct stat first, second;
    return stat(QFile::encodeName(a).constData(), &first) == 0 && stat(QFile::encodeName(b).constData(), &second) == 0
           && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
#else
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical.compare(QFileInfo(b).canonicalFilePath(), Qt::CaseInsensitive) == 0;
#endif
}

}  // namespace

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

    if (sameFile(files.at(0), files.at(1))) {
        err() << "velomark-cli: " << files.at(1) << " is the input file: it would be replaced by its encryption"
              << Qt::endl;
        return Failed;
    }
    QFile input(files.at(0));
    if (!input.open(QIODevice::ReadOnly)) {
        err() << "velomark-cli: cannot read " << files.at(0) << ": " << input.errorString() << Qt::endl;
        return Failed;
    }

    CliOperator op;
    velomark::Encryptor encryptor;
    velomark::configureExportEncryptor(encryptor);
    velomark::Certificate fromFile;
    velomark::CertificateList certificates;
    const velomark::Certificate *recipient = &fromFile;
    if (parser.isSet(certFile)) {
        if (!fromFile.LoadFromFile(QFile::encodeName(parser.value(certFile)).toStdString()))
            return usageError(QStringLiteral("cannot read a certificate from %1").arg(parser.value(certFile)));
    } else {
        if (!velomark::loadCertificates(op, certificates))
            return Failed;
        recipient = velomark::findCertificate(certificates, parser.value(to));
        if (!recipient) {
            op.inform(velomark::applicationTitle(), QStringLiteral("Cannot find certificate for encryption"));
            return Failed;
        }
    }
    const velomark::ExportOutcome outcome = velomark::encryptFileFor(op, encryptor, *recipient, input, files.at(1));
    if (outcome == velomark::ExportOutcome::NothingToWrite) {
        err() << "velomark-cli: " << files.at(0) << " is empty: nothing to encrypt" << Qt::endl;
        return Failed;
    }
    return outcome == velomark::ExportOutcome::Written ? Success : Failed;
}

}  // namespace cli
