#include "pki.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTest>

namespace testpki {

Run run(const QString &program, const QStringList &args, const QByteArray &input)
{
    Run result;
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        result.err = "cannot start " + program.toUtf8();
        return result;
    }
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(300000);
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return result;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray certificateDer(const QString &pem)
{
    return run("openssl", {"x509", "-in", pem, "-outform", "DER"}).out;
}

Pki::Pki()
{
    // Attribute names that openssl does not know, for subjects with unknown OIDs, and the
    // widest string mask, so non-Latin text is stored as BMPString.
    writeFile(path("req.cnf"), "oid_section = extra_oids\n"
                               "[extra_oids]\nvelomarkTestAttr = 1.3.6.1.4.1.99999.7\n"
                               "[req]\ndistinguished_name = dn\nstring_mask = default\n"
                               "[dn]\n");
}

QString Pki::key(const QString &kind)
{
    if (m_keys.contains(kind))
        return m_keys.value(kind);
    const QString file = path(QString(kind).replace(':', '_') + ".key");
    Run made;
    if (kind.startsWith("rsa:")) {
        made = run("openssl", {"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:" + kind.mid(4),
                               "-out", file});
    } else if (kind == "dsa") {
        const QString params = path("dsa.params");
        made = run("openssl", {"genpkey", "-genparam", "-algorithm", "DSA", "-pkeyopt", "dsa_paramgen_bits:1024",
                               "-out", params});
        if (made.ok)
            made = run("openssl", {"genpkey", "-paramfile", params, "-out", file});
    } else if (kind == "ec") {
        made = run("openssl", {"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", file});
    }
    if (!made.ok) {
        qWarning("key %s: %s", qPrintable(kind), made.err.constData());
        return {};
    }
    m_keys.insert(kind, file);
    return file;
}

QString Pki::certificate(const QString &name, const QString &keyKind, const QString &subject,
                         const QString &serialHex)
{
    const QString keyFile = key(keyKind);
    const QString file = path(name + ".pem");
    const Run made = run("openssl", {"req", "-x509", "-new", "-config", path("req.cnf"), "-utf8", "-key", keyFile,
                                     "-subj", subject, "-set_serial", "0x" + serialHex, "-days", "30",
                                     "-out", file});
    if (!made.ok) {
        qWarning("certificate %s: %s", qPrintable(name), made.err.constData());
        return {};
    }
    m_certKeys.insert(file, keyFile);
    return file;
}

QString Pki::keyOf(const QString &certPem) const
{
    return m_certKeys.value(certPem);
}

QString Pki::pkcs12(const QString &certPem, const QString &keyPem)
{
    const QString file = certPem + ".p12";
    const Run made = run("openssl", {"pkcs12", "-export", "-in", certPem, "-inkey", keyPem, "-passout",
                                     "pass:velomark", "-out", file});
    if (!made.ok)
        qWarning("pkcs12: %s", made.err.constData());
    return made.ok ? file : QString();
}

bool Pki::makeNssDb(const QString &folder, const QList<QPair<QString, QString>> &nicknameAndCert,
                    const QStringList &keyImports)
{
    QDir().mkpath(folder);
    const QString db = "sql:" + folder;
    Run step = run("certutil", {"-N", "--empty-password", "-d", db});
    if (!step.ok) {
        qWarning("certutil -N: %s", step.err.constData());
        return false;
    }
    for (const auto &entry : nicknameAndCert) {
        step = run("certutil", {"-A", "-d", db, "-n", entry.first, "-t", ",,", "-i", entry.second});
        if (!step.ok) {
            qWarning("certutil -A: %s", step.err.constData());
            return false;
        }
    }
    for (const QString &certPem : keyImports) {
        const QString p12 = pkcs12(certPem, keyOf(certPem));
        step = run("pk12util", {"-i", p12, "-d", db, "-W", "velomark", "-K", ""});
        if (!step.ok) {
            qWarning("pk12util: %s %s", step.out.constData(), step.err.constData());
            return false;
        }
    }
    return true;
}

Run Pki::opensslDecrypt(const QString &derFile, const QString &certPem, const QString &keyPem)
{
    // Without -binary openssl would turn line ends into CR LF.
    return run("openssl", {"cms", "-decrypt", "-binary", "-inform", "DER", "-in", derFile, "-recip", certPem,
                           "-inkey", keyPem});
}

Run Pki::nssDecrypt(const QString &derFile, const QString &dbFolder)
{
    const QString outFile = derFile + ".nss";
    QFile::remove(outFile);
    Run result = run("cmsutil", {"-D", "-i", derFile, "-d", "sql:" + dbFolder, "-o", outFile});
    if (result.ok)
        result.out = readFile(outFile);
    return result;
}

}  // namespace testpki
