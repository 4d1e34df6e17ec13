#include "project/VellisyncProject.h"

#include <QUuid>

#include <utility>

#include "inet/FtpService.h"
#include "model/Global.h"
#include "model/Errors.h"
#include "model/ProjectFile.h"
#include "project/PasswordKeyring.h"
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
    m_keyringOutOfDate = false;
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
    if (Password != value)
        m_keyringOutOfDate = true;
    assignIfChanged(Password, value, Modified);
}

void TVellisyncProject::SetPasswordInKeyring(bool inKeyring) {
    if (inKeyring == passwordInKeyring())
        return;
    PasswordStore = inKeyring ? KeyringPasswordStore : QString();
    m_keyringOutOfDate = true;
    Modified = true;
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
    m_keyringOutOfDate = false;
    return true;
}

bool TVellisyncProject::SaveToFile(const QString& fileName) {
    if (passwordInKeyring()) {
        storePasswordInKeyring();
        saveProjectSettings(fileName, *this);
    } else {
        // The password goes back into the file: the keyring entry goes once
        // the file no longer names it.
        const QString formerEntry = std::exchange(KeyringEntry, QString());
        saveProjectSettings(fileName, *this);
        if (!formerEntry.isEmpty()) {
            QString ignored; // an entry left behind holds nothing any file names
            PasswordKeyring().removePassword(formerEntry, ignored);
        }
    }
    Modified = false;
    m_keyringOutOfDate = false;
    return true;
}

// Before the file is written, so a keyring that refuses leaves the file as it was.
// A project loaded without its password (the list of projects, a caption
// edit) never overwrites the stored one: only a password set since goes out.
void TVellisyncProject::storePasswordInKeyring() {
    const bool newEntry = KeyringEntry.isEmpty();
    if (!newEntry && !m_keyringOutOfDate)
        return;
    const QString entry = newEntry ? QUuid::createUuid().toString(QUuid::WithoutBraces) : KeyringEntry;
    QString error;
    if (!PasswordKeyring().writePassword(entry, Password, error))
        throw VellisyncError(QStringLiteral("Cannot keep the password in the desktop keyring: %1").arg(error));
    KeyringEntry = entry;
}

bool TVellisyncProject::FetchKeyringPassword(QString& error) {
    if (!passwordInKeyring())
        return true;
    if (KeyringEntry.isEmpty()) {
        error = QStringLiteral("the project names no keyring entry");
        return false;
    }
    const std::optional<QString> password = PasswordKeyring().readPassword(KeyringEntry, error);
    if (!password)
        return false;
    Password = *password; // what is stored already: neither modified nor out of date
    return true;
}

void TVellisyncProject::ForgetKeyringPassword() const {
    if (KeyringEntry.isEmpty())
        return;
    QString ignored; // the file is gone; an entry left behind is named by nothing
    PasswordKeyring().removePassword(KeyringEntry, ignored);
}

bool TVellisyncProject::KeyringReachable() {
    // Asked while the window waits: a keyring that does not answer soon counts as absent.
    return PasswordKeyring(std::chrono::seconds(5)).isReachable();
}
