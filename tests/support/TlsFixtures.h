#pragma once

// What the TLS tests need besides the pyftpdlib server: certificates made at
// test time with openssl (never stored with their key) and vsftpd, which
// demands that data connections resume the control connection's session.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>

#include "support/ProxyProcesses.h"

struct TestCertificate {
    QString certificateFile; // PEM certificate
    QString keyFile;         // PEM private key
    QString combinedFile;    // both, for servers that take one file
    QByteArray sha256;       // the certificate's fingerprint
};

// A self-signed certificate for 127.0.0.1 (subjectAltName IP:127.0.0.1), its
// files named after `name` in folder; empty when openssl failed.
std::optional<TestCertificate> makeTestCertificate(const QString& folder, const QString& name);

// vsftpd on 127.0.0.1, anonymous logon with writes allowed below root()/pub.
// With a certificate TLS is required for logon and data (ssl_enable=YES,
// require_ssl_reuse=YES); without one it speaks plain FTP. It must run as
// root; available() says whether it can here.
class VsftpdProcess : public ListeningProcess {
public:
    explicit VsftpdProcess(std::optional<TestCertificate> certificate = std::nullopt);
    static bool available();
    // The served folder; anonymous users write in its "pub" folder.
    QString root() const { return m_folder.filePath(QStringLiteral("root")); }
    // vsftpd's protocol log (every command and reply, debug_ssl lines).
    QString log() const;

protected:
    QString program() const override;
    QStringList arguments(quint16 port) override;

private:
    std::optional<TestCertificate> m_certificate;
    QTemporaryDir m_folder;
};
