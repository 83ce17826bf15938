#pragma once
// Test keys, certificates and NSS databases made by the openssl and NSS command-line tools, so
// the expected results never come from the code under test.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testpki {

struct Run
{
    bool ok = false;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end (stdin from `input`).
Run run(const QString &program, const QStringList &args, const QByteArray &input = {});

// One folder of keys and certificates for a test program; keys are made once per name.
class Pki
{
public:
    Pki();
    QString dir() const { return m_dir.path(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // "rsa:2048", "dsa", "ec"; returns the PEM key file, made on first request.
    QString key(const QString &kind);
    // A self-signed certificate (PEM) with this subject ("/CN=a/O=b") and serial (hex).
    // Returns an empty path and fails the test step when openssl refuses.
    QString certificate(const QString &name, const QString &keyKind, const QString &subject,
                        const QString &serialHex = QStringLiteral("01"));
    // An NSS database folder holding the given certificates under the given nicknames, in
    // the given order. Private keys are imported (PKCS #12) for those that name a key.
    bool makeNssDb(const QString &folder, const QList<QPair<QString, QString>> &nicknameAndCert,
                   const QStringList &keyImports = {});

    // Decrypts a DER enveloped-data file with openssl; ok false when openssl refuses.
    Run opensslDecrypt(const QString &derFile, const QString &certPem, const QString &keyPem);
    // Decrypts with NSS's cmsutil against a database holding the recipient's key.
    Run nssDecrypt(const QString &derFile, const QString &dbFolder);
    // A PKCS #12 of the certificate and its key for pk12util.
    QString pkcs12(const QString &certPem, const QString &keyPem);

    QString keyOf(const QString &certPem) const;

private:
    QTemporaryDir m_dir;
    QHash<QString, QString> m_keys;
    QHash<QString, QString> m_certKeys;
};

QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &data);
// DER of a PEM certificate, via openssl.
QByteArray certificateDer(const QString &pem);

}  // namespace testpki
