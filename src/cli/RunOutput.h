#pragma once

#include <QFile>
#include <QString>
#include <QTimer>

#include <memory>
#include <mutex>

#include "project/SyncThread.h"

struct RunOutcome;
class TVellisyncProject;
namespace engine {
struct RunEvent;
}

namespace cli {

// How the runner shows a run, from its options.
struct OutputOptions {
    bool quiet = false; // only failures, the summary and the problems line
    bool json = false;  // events as JSON lines on standard output instead of the log
    QString logFile;    // the stamped log goes here as well, as Save Log writes it
};

// The one progress line on a terminal's standard error, redrawn in place a
// few times a second from the project's progress counts. Does nothing when
// standard error is not a terminal, so logs and pipes stay clean.
class ProgressLine {
public:
    explicit ProgressLine(const TVellisyncProject& project);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool active() const { return m_timer != nullptr; }
    // Takes the line off the screen, so that a log line can be printed.
    void clear();
    // Draws the final counts and ends the line.
    void finish();

private:
    void draw();

    const TVellisyncProject& m_project;
    std::unique_ptr<QTimer> m_timer;
    bool m_shown = false;
};

// Receives the run's stamped log lines and events and writes what the
// options ask for: the log on standard output (all of it, or with --quiet the
// lines that need a reader), JSON events, the log file.
class RunPrinter : public LineSink {
public:
    RunPrinter(OutputOptions options, ProgressLine& progress);
    // Opens the log file; false with error set when it cannot be created.
    bool open(QString& error);
    void AppendLine(const QString& line) override;
    // Called on the run's thread.
    void reportEvent(const engine::RunEvent& event);
    // The summary and problems events after the run, with the exit status and
    // why the run could not do its work, if it could not.
    void reportEnd(const RunOutcome& outcome, bool dryRun, int exitStatus, const QString& cannotRunReason);

private:
    bool shownWhenQuiet(const QString& message) const;
    void writeJsonLine(const QByteArray& compact);

    OutputOptions m_options;
    ProgressLine& m_progress;
    QFile m_logFile;
    std::mutex m_stdoutMutex;
};

} // namespace cli
