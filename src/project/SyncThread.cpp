#include "project/SyncThread.h"

#include <QDateTime>
#include <QLocale>

#include "project/VellisyncProject.h"

namespace {

// The locale's long time form names the time zone too; a log stamp wants the
// time with seconds only. Drops the zone field ("t"), leaving quoted text alone.
QString timeFormatWithSeconds(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            result.append(c);
    }
    return result.simplified();
}

QString logStamp() {
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(now.time(), timeFormatWithSeconds(locale));
}

} // namespace

TFTPSyncThread::TFTPSyncThread() {
    // The end notification runs on the thread that created this object.
    connect(this, &QThread::finished, this, &TFTPSyncThread::Terminated, Qt::QueuedConnection);
}

TFTPSyncThread::~TFTPSyncThread() {
    // finished() comes just before the thread itself ends; wait for that moment.
    // (An owner that destroys a running thread object while the run waits for
    // a log line to be appended would wait for ever: only delete it after
    // OnTerminate, as the self-deletion does.)
    wait();
    if (m_project)
        m_project->SetOnLog({});
}

void TFTPSyncThread::SetProject(TVellisyncProject* project) {
    if (project == m_project)
        return;
    if (m_project)
        m_project->SetOnLog({});
    m_project = project;
    if (m_project)
        m_project->SetOnLog([this](TVellisyncProject& sender, const QString& message) { HandleLog(sender, message); });
}

void TFTPSyncThread::Resume() {
    // The run's copy of the settings is taken here, on the thread that edits
    // them, so nothing the window does later can reach the run.
    if (m_project)
        m_project->PrepareRun();
    start();
}

void TFTPSyncThread::run() {
    try {
        if (m_project)
            m_project->Run();
    } catch (...) {
        m_fatalException = std::current_exception(); // kept, never shown
    }
}

void TFTPSyncThread::HandleLog(TVellisyncProject& /*sender*/, const QString& message) {
    m_logLine = QStringLiteral("%1; %2").arg(logStamp(), message);
    if (QThread::currentThread() == thread()) {
        AddLogLine();
        return;
    }
    // The worker waits until the line has been appended; an exception from the
    // append cannot cross the event loop, so it is carried back and raised here.
    std::exception_ptr appendError;
    QMetaObject::invokeMethod(
        this,
        [this, &appendError] {
            try {
                AddLogLine();
            } catch (...) {
                appendError = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (appendError)
        std::rethrow_exception(appendError);
}

void TFTPSyncThread::AddLogLine() {
    if (m_lines)
        m_lines->AppendLine(m_logLine);
}

void TFTPSyncThread::Terminated() {
    if (m_onTerminate)
        m_onTerminate(*this);
    if (m_freeOnTerminate)
        deleteLater();
}
