#include "support/TlsFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSslCertificate>

#include <sys/stat.h>
#include <unistd.h>

std::optional<TestCertificate> makeTestCertificate(const QString& folder, const QString& name) {
    TestCertificate made;
    made.certificateFile = QDir(folder).filePath(name + QStringLiteral(".crt"));
    made.keyFile = QDir(folder).filePath(name + QStringLiteral(".key"));
    made.combinedFile = QDir(folder).filePath(name + QStringLiteral(".pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"), made.keyFile,
                   QStringLiteral("-out"), made.certificateFile});
    if (!openssl.waitForFinished(30'000) || openssl.exitCode() != 0)
        return std::nullopt;
    QFile certificate(made.certificateFile);
    QFile key(made.keyFile);
    QFile combined(made.combinedFile);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly) ||
        !combined.open(QIODevice::WriteOnly))
        return std::nullopt;
    const QByteArray pem = certificate.readAll();
    combined.write(pem + key.readAll());
    const QList<QSslCertificate> parsed = QSslCertificate::fromData(pem, QSsl::Pem);
    if (parsed.isEmpty())
        return std::nullopt;
    made.sha256 = parsed.first().digest(QCryptographicHash::Sha256);
    return made;
}

VsftpdProcess::VsftpdProcess(std::optional<TestCertificate> certificate) : m_certificate(std::move(certificate)) {}

bool VsftpdProcess::available() {
    // vsftpd drops to its "ftp" user and chroots: only root can start it.
    return ::geteuid() == 0 && QFileInfo::exists(QStringLiteral("/usr/sbin/vsftpd"));
}

QString VsftpdProcess::program() const {
    return QStringLiteral("/usr/sbin/vsftpd");
}

QString VsftpdProcess::log() const {
    QFile file(m_folder.filePath(QStringLiteral("vsftpd.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList VsftpdProcess::arguments(quint16 port) {
    const QDir folder(m_folder.path());
    // The chroot folder must not be writable by the ftp user; its pub may.
    folder.mkpath(QStringLiteral("root/pub"));
    folder.mkpath(QStringLiteral("empty"));
    ::chmod(QFile::encodeName(m_folder.path()).constData(), 0755);
    ::chmod(QFile::encodeName(root()).constData(), 0755);
    ::chmod(QFile::encodeName(folder.filePath(QStringLiteral("root/pub"))).constData(), 0777);
    QString configuration =
        QStringLiteral("listen=YES\n"
                       "listen_ipv6=NO\n"
                       "listen_address=127.0.0.1\n"
                       "listen_port=%1\n"
                       "background=NO\n"
                       "anonymous_enable=YES\n"
                       "no_anon_password=YES\n"
                       "local_enable=NO\n"
                       "write_enable=YES\n"
                       "anon_upload_enable=YES\n"
                       "anon_mkdir_write_enable=YES\n"
                       "anon_other_write_enable=YES\n"
                       "anon_umask=022\n"
                       "anon_root=%2\n"
                       "secure_chroot_dir=%3\n"
                       "seccomp_sandbox=NO\n"
                       "log_ftp_protocol=YES\n"
                       "xferlog_enable=YES\n"
                       "vsftpd_log_file=%4\n")
            .arg(port)
            .arg(root(), folder.filePath(QStringLiteral("empty")), folder.filePath(QStringLiteral("vsftpd.log")));
    if (m_certificate) {
        configuration += QStringLiteral("ssl_enable=YES\n"
                                        "allow_anon_ssl=YES\n"
                                        "force_anon_logins_ssl=YES\n"
                                        "force_anon_data_ssl=YES\n"
                                        "require_ssl_reuse=YES\n"
                                        "rsa_cert_file=%1\n"
                                        "rsa_private_key_file=%2\n"
                                        "debug_ssl=YES\n")
                             .arg(m_certificate->certificateFile, m_certificate->keyFile);
    }
    const QString file = folder.filePath(QStringLiteral("vsftpd.conf"));
    QFile out(file);
    if (out.open(QIODevice::WriteOnly))
        out.write(configuration.toUtf8());
    return {file};
}
