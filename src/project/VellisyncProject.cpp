#include "project/VellisyncProject.h"

#include <utility>

#include "inet/FtpService.h"
#include "model/Global.h"
#include "model/ProjectFile.h"
#include "sync/SyncRun.h"

namespace {

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
    static_cast<ProjectSettings&>(*this) = newProjectSettings();
    FileName.clear();
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
void TVellisyncProject::SetSyncMode(setting::SyncMode value) {
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
void TVellisyncProject::SetProxyKind(setting::ProxyKind value) {
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

void TVellisyncProject::SetEncryption(setting::Encryption value) {
    assignIfChanged(Encryption, value, Modified);
}

void TVellisyncProject::SetConflicts(setting::Conflicts value) {
    assignIfChanged(Conflicts, value, Modified);
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
    return projectReviewText(*this);
}

bool TVellisyncProject::LoadFromFile(const QString& fileName) {
    FileName = fileName;
    if (!loadProjectSettings(fileName, *this)) {
        return false;
    }
    Modified = false;
    return true;
}

bool TVellisyncProject::SaveToFile(const QString& fileName) {
    saveProjectSettings(fileName, *this);
    Modified = false;
    return true;
}
