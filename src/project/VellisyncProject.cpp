#include "project/VellisyncProject.h"

#include <utility>

#include "inet/FtpService.h"
#include "model/Global.h"
#include "sync/SyncRun.h"

namespace {

QString yesNo(bool value) {
    return value ? QStringLiteral("Yes") : QStringLiteral("No");
}

// Assigns value to member and marks the project modified, only when they differ.
template <typename T, typename U> void assignIfChanged(T& member, const U& value, bool& modified) {
    if (member != value) {
        member = value;
        modified = true;
    }
}

} // namespace

TVellisyncProject::TVellisyncProject() : m_progress(std::make_shared<engine::RunProgress>()) {}

// Defined here, where the run's type is complete.
TVellisyncProject::~TVellisyncProject() = default;

void TVellisyncProject::SetDefaults() {
    Caption = QStringLiteral("<No Caption>");
    Server = QStringLiteral("ftp.example.com");
    Port = 21;
    UserName = QStringLiteral("anonymous");
    Password = QStringLiteral("guest@example.com");
    Passive = false;
    RemoteFolder = QStringLiteral("/");
    LocalFolder.clear();
    SyncMode = 2;
    SubFilders = false;
    Exact = false;
    IncludeMasks = QStringLiteral("*.*");
    ExcludeMasks.clear();
    FileName.clear();

    SetUseProxy(false);
    SetProxyKind(0);
    SetProxyServer(QString());
    SetProxyPort(21);
    Connections = DefaultConnections;
    ListingTimeZone.clear();
    Encryption = NewProjectEncryption;
    TrustedCertificate.clear();

    Modified = false;
    const std::lock_guard lock(m_runMutex);
    if (m_run)
        m_run->StopRequested = false;
}

void TVellisyncProject::SetCaption(const QString& value) {
    assignIfChanged(Caption, value, Modified);
}
void TVellisyncProject::SetServer(const QString& value) {
    assignIfChanged(Server, value, Modified);
}
void TVellisyncProject::SetPort(qint32 value) {
    assignIfChanged(Port, value, Modified);
}
void TVellisyncProject::SetUserName(const QString& value) {
    assignIfChanged(UserName, value, Modified);
}
void TVellisyncProject::SetPassword(const QString& value) {
    assignIfChanged(Password, value, Modified);
}
void TVellisyncProject::SetPassive(bool value) {
    assignIfChanged(Passive, value, Modified);
}

void TVellisyncProject::SetRemoteFolder(const QString& value) {
    assignIfChanged(RemoteFolder, trimBlanksAndControls(value), Modified);
}

void TVellisyncProject::SetLocalFolder(const QString& value) {
    assignIfChanged(LocalFolder, value, Modified);
}
void TVellisyncProject::SetSyncMode(quint8 value) {
    assignIfChanged(SyncMode, value, Modified);
}
void TVellisyncProject::SetSubFilders(bool value) {
    assignIfChanged(SubFilders, value, Modified);
}
void TVellisyncProject::SetExact(bool value) {
    assignIfChanged(Exact, value, Modified);
}
void TVellisyncProject::SetIncludeMasks(const QString& value) {
    assignIfChanged(IncludeMasks, value, Modified);
}
void TVellisyncProject::SetExcludeMasks(const QString& value) {
    assignIfChanged(ExcludeMasks, value, Modified);
}
void TVellisyncProject::SetUseProxy(bool value) {
    assignIfChanged(UseProxy, value, Modified);
}
void TVellisyncProject::SetProxyKind(qint32 value) {
    assignIfChanged(ProxyKind, value, Modified);
}

void TVellisyncProject::SetProxyServer(const QString& value) {
    assignIfChanged(ProxyServer, trimBlanksAndControls(value), Modified);
}

void TVellisyncProject::SetProxyPort(qint32 value) {
    assignIfChanged(ProxyPort, value, Modified);
}

void TVellisyncProject::SetConnections(qint32 value) {
    assignIfChanged(Connections, value, Modified);
}

void TVellisyncProject::SetListingTimeZone(const QString& value) {
    assignIfChanged(ListingTimeZone, value.trimmed(), Modified);
}

void TVellisyncProject::SetEncryption(qint32 value) {
    assignIfChanged(Encryption, value, Modified);
}

bool TVellisyncProject::SetTrustedCertificate(const QString& value) {
    if (value.trimmed().isEmpty()) {
        assignIfChanged(TrustedCertificate, QString(), Modified);
        return true;
    }
    const std::optional<QByteArray> fingerprint = inet::parseFingerprint(value);
    if (!fingerprint)
        return false;
    assignIfChanged(TrustedCertificate, inet::fingerprintText(*fingerprint), Modified);
    return true;
}

QString TVellisyncProject::GetReviewText() const {
    // A file may carry any mode number; only 0 to 2 have names, and the run
    // transfers nothing for the others, so the review says exactly that.
    const QString modeName = SyncMode < SyncModeNames.size()
                                 ? SyncModeNames[SyncMode]
                                 : QStringLiteral("Unknown (%1), nothing is transferred").arg(SyncMode);

    QString text;
    text += QStringLiteral("FTP server\r\n");
    text += QStringLiteral("Host: %1\r\n").arg(Server);
    text += QStringLiteral("Port: %1\r\n").arg(Port);
    text += QStringLiteral("User name: %1\r\n").arg(UserName);
    text += QStringLiteral("Passive mode: %1\r\n").arg(yesNo(Passive));
    if (Encryption != DefaultEncryption)
        text += QStringLiteral("Encryption: %1\r\n")
                    .arg(Encryption >= 0 && Encryption < qint32(EncryptionNames.size())
                             ? EncryptionNames[size_t(Encryption)]
                             : QStringLiteral("Unknown (%1), no connection is made").arg(Encryption));
    if (!TrustedCertificate.isEmpty())
        text += QStringLiteral("Trusted certificate: %1\r\n").arg(TrustedCertificate);
    // Only a changed setting is shown, so the review of a project that leaves
    // it alone reads as it always did.
    if (Connections != DefaultConnections) {
        text += QStringLiteral("Simultaneous connections: %1%2\r\n")
                    .arg(Connections)
                    .arg(Passive || Connections <= 1 ? QString() : QStringLiteral(" (active mode uses one)"));
    }
    if (!ListingTimeZone.isEmpty())
        text += QStringLiteral("Server lists times in: %1\r\n").arg(ListingTimeZone);
    text += QStringLiteral("\r\n");
    text += QStringLiteral("Remote folder: %1\r\n").arg(RemoteFolder);
    text += QStringLiteral("Local folder: %1\r\n").arg(LocalFolder);
    text += QStringLiteral("Mode: %1\r\n").arg(modeName);
    text += QStringLiteral("With subfolders: %1\r\n").arg(yesNo(SubFilders));
    if (SyncMode != 2) {
        text += QStringLiteral("Exact copy: %1\r\n").arg(yesNo(Exact));
    }
    text += QStringLiteral("\r\n");
    text += QStringLiteral("Include files: %1\r\n").arg(IncludeMasks);
    if (!ExcludeMasks.isEmpty()) {
        text += QStringLiteral("Exclude files: %1\r\n").arg(ExcludeMasks);
    }
    return text;
}
