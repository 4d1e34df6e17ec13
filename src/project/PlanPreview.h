#pragma once

#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

#include "model/ProjectSettings.h"
#include "sync/RunOutcome.h"
#include "sync/RunProgress.h"

class SyncRun;

// One action a run of the project would take, as a dry run found it.
struct PreviewAction {
    engine::ActionKind action = engine::ActionKind::Upload;
    QString file;   // the relative name as the scan wrote it (not escaped)
    QString reason; // as the dry run's line ends: " (not on the server)"
    qint64 bytes = 0;
    QString line; // the dry run's own line of it

    bool isDeletion() const {
        return action == engine::ActionKind::DeleteLocal || action == engine::ActionKind::DeleteRemote;
    }
};

// What a dry run of the project found.
struct PreviewResult {
    std::vector<PreviewAction> actions;
    // The other lines a person should read before a real run: folders that
    // could not be listed, skipped names, withheld deletions, conflicts.
    QStringList notes;
    RunOutcome outcome;
    QString error; // why the dry run ended early, when an error ended it

    int deletions() const;
};

// Plans a project's run without changing anything: a dry run on a thread of
// its own, with its own copy of the settings and counts, so it neither
// blocks the window nor meets the project's real runs. Created suspended
// (call start); read result() once finished() has been received.
class PlanPreview : public QThread {
    Q_OBJECT
public:
    explicit PlanPreview(const ProjectSettings& settings);
    // Stops the dry run and waits for its end: its hooks point into this object.
    ~PlanPreview() override;

    // Asks the dry run to end at the next file; safe from any thread.
    void requestStop();
    engine::RunProgress& progress() const { return *m_progress; }
    // Complete once the thread has finished.
    const PreviewResult& result() const { return m_result; }

protected:
    void run() override;

private:
    void passStopOn();
    void noteLine(const QString& line);
    void noteEvent(const engine::RunEvent& event);

    std::shared_ptr<engine::RunProgress> m_progress;
    std::unique_ptr<SyncRun> m_run;
    PreviewResult m_result;
    std::atomic<bool> m_stopRequested{false};
};
