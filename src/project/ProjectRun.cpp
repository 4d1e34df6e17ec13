// The project's doors into its run. Each door works on the current run; Run
// works on a run of its own, made with a copy of the settings.
#include "project/VellisyncProject.h"

#include "sync/FtpHelpers.h"
#include "sync/RelativeName.h"
#include "sync/SyncRun.h"

std::unique_ptr<SyncRun> TVellisyncProject::NewRun() {
    RunHooks hooks;
    hooks.log = [this](const QString& line) {
        if (OnLog)
            OnLog(*this, line);
    };
    hooks.progress = [this] {
        if (OnProgress)
            OnProgress(*this);
    };
    hooks.event = [this](const engine::RunEvent& event) {
        if (OnRunEvent)
            OnRunEvent(event);
    };
    hooks.counts = m_progress;
    return std::make_unique<SyncRun>(Settings(), RunOptions{DryRun, Explain, MaxDelete, OnConflict}, std::move(hooks));
}

SyncRun& TVellisyncProject::CurrentRun() {
    const std::lock_guard lock(m_runMutex);
    if (!m_run)
        m_run = NewRun();
    else
        m_run->Reconfigure(Settings(), RunOptions{DryRun, Explain, MaxDelete, OnConflict});
    return *m_run;
}

void TVellisyncProject::PrepareRun() {
    std::unique_ptr<SyncRun> run = NewRun();
    const std::lock_guard lock(m_runMutex);
    m_preparedRun = std::move(run);
}

void TVellisyncProject::Run() {
    SyncRun* run = nullptr;
    {
        const std::lock_guard lock(m_runMutex);
        m_run = m_preparedRun ? std::move(m_preparedRun) : NewRun();
        run = m_run.get();
    }
    run->Run();
}

void TVellisyncProject::SetOnLog(TLogEvent handler) {
    OnLog = std::move(handler);
}

void TVellisyncProject::RequestStop() {
    const std::lock_guard lock(m_runMutex);
    if (!m_run)
        m_run = NewRun();
    m_run->RequestStop();
}

void TVellisyncProject::Log(const QString& message) {
    // Names are escaped where a line is made; whatever else came from a
    // server (a reply's text) is made inert here, for every reader of the log.
    if (OnLog)
        OnLog(*this, inertForTerminal(message));
}

void TVellisyncProject::DoProgress() {
    CurrentRun().DoProgress();
}

QString TVellisyncProject::ServerPortProblem() const {
    return serverPortProblem(Settings());
}

QString TVellisyncProject::ProxyPortProblem() const {
    return proxyPortProblem(Settings());
}

QString TVellisyncProject::EncryptionProblem() const {
    return encryptionProblem(Settings());
}

bool TVellisyncProject::Connect() {
    return CurrentRun().Connect();
}

bool TVellisyncProject::Disconnect() {
    return CurrentRun().Disconnect();
}

void TVellisyncProject::CollectLocalFiles() {
    CurrentRun().CollectLocalFiles();
}

void TVellisyncProject::CollectLocalFolder(const QString& relativePath) {
    CurrentRun().CollectLocalFolder(relativePath);
}

void TVellisyncProject::CollectRemoteFiles() {
    CurrentRun().CollectRemoteFiles();
}

void TVellisyncProject::CollectRemoteFolder(const QString& relativePath) {
    CurrentRun().CollectRemoteFolder(relativePath);
}

bool TVellisyncProject::UploadFile(const QString& name, const QString& remoteName, const TFileEntry* scanned) {
    return CurrentRun().UploadFile(name, remoteName, scanned);
}

bool TVellisyncProject::DeleteLocalFile(const QString& name, const QString& reason) {
    return CurrentRun().DeleteLocalFile(name, reason);
}

bool TVellisyncProject::RemoteFolderExists(inet::FtpConnection& connection, const QString& path) {
    return ::RemoteFolderExists(connection, path);
}

void TVellisyncProject::SplitRemotePath(const QString& path, QStringList& levels) {
    ::SplitRemotePath(path, levels);
}

int TVellisyncProject::DownloadFiles() {
    return CurrentRun().DownloadFiles();
}

int TVellisyncProject::UploadFiles() {
    return CurrentRun().UploadFiles();
}

int TVellisyncProject::DeleteLocalFiles() {
    return CurrentRun().DeleteLocalFiles();
}

int TVellisyncProject::DeleteRemoteFiles() {
    return CurrentRun().DeleteRemoteFiles();
}

inet::InternetSession* TVellisyncProject::InternetHandle() const {
    const std::lock_guard lock(m_runMutex);
    return m_run ? m_run->InternetHandle.get() : nullptr;
}

inet::FtpConnection* TVellisyncProject::ConnectHandle() const {
    const std::lock_guard lock(m_runMutex);
    return m_run ? m_run->ConnectHandle.get() : nullptr;
}

TListOfFiles& TVellisyncProject::LocalFiles() {
    return CurrentRun().LocalFiles;
}

TListOfFiles& TVellisyncProject::RemoteFiles() {
    return CurrentRun().RemoteFiles;
}

bool TVellisyncProject::StopRequested() const {
    const std::lock_guard lock(m_runMutex);
    return m_run && m_run->StopRequested;
}

const RunOutcome& TVellisyncProject::LastRunOutcome() const {
    static const RunOutcome none;
    const std::lock_guard lock(m_runMutex);
    return m_run ? m_run->LastRunOutcome : none;
}
