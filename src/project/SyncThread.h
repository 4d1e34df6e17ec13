#pragma once

#include <QString>
#include <QThread>

#include <exception>
#include <functional>

class TVellisyncProject;

// Where a run's stamped log lines go. Called on the thread that created the
// sync thread object (the user-interface thread), one line at a time.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void AppendLine(const QString& line) = 0;
};

// Runs one project's sync run on a thread of its own and carries its log lines,
// stamped with the local date and time, to the creating thread. Created
// suspended (call Resume to start); with FreeOnTerminate set (the default) the
// object deletes itself after OnTerminate has run.
class TFTPSyncThread : public QThread {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TFTPSyncThread& sender)>;

    TFTPSyncThread();
    ~TFTPSyncThread() override;

    TVellisyncProject* Project() const { return m_project; }
    // Hooks the project's OnLog to HandleLog (unhooking a previous project).
    void SetProject(TVellisyncProject* project);
    LineSink* Lines() const { return m_lines; }
    void SetLines(LineSink* lines) { m_lines = lines; }
    bool FreeOnTerminate() const { return m_freeOnTerminate; }
    void SetFreeOnTerminate(bool value) { m_freeOnTerminate = value; }
    // Called on the creating thread after the run has ended, whatever its outcome.
    void SetOnTerminate(TNotifyEvent handler) { m_onTerminate = std::move(handler); }
    // Starts the suspended thread.
    void Resume();
    // The exception that ended the run, if any (kept, never shown).
    std::exception_ptr FatalException() const { return m_fatalException; }

protected:
    void run() override; // Execute: the project's Run

private:
    void HandleLog(TVellisyncProject& sender, const QString& message);
    void AddLogLine();
    void Terminated();

    QString m_logLine;
    TVellisyncProject* m_project = nullptr;
    LineSink* m_lines = nullptr;
    bool m_freeOnTerminate = true;
    TNotifyEvent m_onTerminate;
    std::exception_ptr m_fatalException;
};
