#pragma once
// Test keys, certificates and NSS databases made by the openssl and NSS command-line tools, so
// the expected results never come from the code under test.
#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <QTemporaryDir>

#include "clirun.h"

namespace testpki {

// Runs a program to its end (stdin from `input`); a failure is shown with its standard error.
inline CliRun run(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    const CliRun result = runProgram(program, args, {}, input, 300000);
    if (!result.ok())
        qWarning("%s %s: %s", qPrintable(program), qPrintable(args.value(0)), result.err.constData());
    return result;
}

// One folder of keys and certificates for a test program; keys are made once per kind.
class Pki
{
public:
    Pki()
    {
        // An attribute name openssl does not know, for unknown OIDs, and the widest string
        // mask, so non-Latin text is stored as BMPString.
        writeFileBytes(path("req.cnf"), "oid_section = extra_oids\n"
                                   "[extra_oids]\nvelomarkTestAttr = 1.3.6.1.4.1.99999.7\n"
                                   "[req]\ndistinguished_name = dn\nstring_mask = default\n[dn]\n");
    }
    QString dir() const { return m_dir.path(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString keyOf(const QString &certPem) const { return m_certKeys.value(certPem); }

    // "rsa:2048" or "dsa"; returns the PEM key file.
    QString key(const QString &kind)
    {
        if (m_keys.contains(kind))
            return m_keys.value(kind);
        const QString file = path(QString(kind).replace(':', '_') + ".key");
        QStringList args{"genpkey", "-out", file};
        if (kind.startsWith("rsa:"))
            args << "-algorithm" << "RSA" << "-pkeyopt" << "rsa_keygen_bits:" + kind.mid(4);
        else if (run("openssl", {"genpkey", "-genparam", "-algorithm", "DSA", "-pkeyopt", "dsa_paramgen_bits:1024",
                                 "-out", path("dsa.params")}).ok())
            args << "-paramfile" << path("dsa.params");
        if (!run("openssl", args).ok())
            return {};
        m_keys.insert(kind, file);
        return file;
    }

    // A PEM certificate with this subject ("/CN=a/O=b") and serial (hex, "-" in front for a
    // negative one), self-signed or issued by a test CA ("/CN=Velomark Test CA", made on first
    // use) so that its issuer differs from its subject; empty when openssl refuses.
    QString certificate(const QString &name, const QString &keyKind, const QString &subject,
                        const QString &serialHex = QStringLiteral("01"), bool byCa = false)
    {
        if (byCa && m_ca.isEmpty())
            m_ca = certificate("test-ca", "rsa:2048", "/CN=Velomark Test CA/O=Velomark", "7E");
        const QString keyFile = key(keyKind);
        const QString file = path(name + ".pem");
        const QString serial = serialHex.startsWith('-') ? "-0x" + serialHex.mid(1) : "0x" + serialHex;
        const QStringList serialAndOut{"-set_serial", serial, "-days", "30", "-out", file};
        const QStringList sign{"x509", "-req", "-in", file, "-CA", m_ca, "-CAkey", keyOf(m_ca)};
        if (!run("openssl", QStringList{"req", "-new", "-config", path("req.cnf"), "-utf8", "-key", keyFile, "-subj",
                                        subject} + (byCa ? QStringList{"-out", file} : QStringList{"-x509"} + serialAndOut)).ok()
            || (byCa && (m_ca.isEmpty() || !run("openssl", sign + serialAndOut).ok())))
            return {};
        m_certKeys.insert(file, keyFile);
        return file;
    }

    // An NSS database holding the certificates under their nicknames, in that order, and the
    // private keys of `keyImports`.
    bool makeNssDb(const QString &folder, const QList<QPair<QString, QString>> &nicknameAndCert,
                   const QStringList &keyImports = {})
    {
        QDir().mkpath(folder);
        const QString db = "sql:" + folder;
        bool ok = run("certutil", {"-N", "--empty-password", "-d", db}).ok();
        for (const auto &entry : nicknameAndCert)
            ok = ok && run("certutil", {"-A", "-d", db, "-n", entry.first, "-t", ",,", "-i", entry.second}).ok();
        for (const QString &pem : keyImports) {
            ok = ok && run("openssl", {"pkcs12", "-export", "-in", pem, "-inkey", keyOf(pem), "-passout",
                                       "pass:velomark", "-out", pem + ".p12"}).ok()
                 && run("pk12util", {"-i", pem + ".p12", "-d", db, "-W", "velomark", "-K", ""}).ok();
        }
        return ok;
    }

    // Without -binary openssl would turn line ends into CR LF.
    CliRun opensslDecrypt(const QString &derFile, const QString &certPem)
    {
        return run("openssl", {"cms", "-decrypt", "-binary", "-inform", "DER", "-in", derFile, "-recip", certPem,
                               "-inkey", keyOf(certPem)});
    }

    CliRun nssDecrypt(const QString &derFile, const QString &dbFolder)
    {
        return run("cmsutil", {"-D", "-i", derFile, "-d", "sql:" + dbFolder});
    }

private:
    QTemporaryDir m_dir;
    QString m_ca;
    QHash<QString, QString> m_keys;
    QHash<QString, QString> m_certKeys;
};

}  // namespace testpki
