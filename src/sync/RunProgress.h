#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <mutex>
#include <vector>

namespace engine {

// What a run has done so far, as one consistent picture for a display.
struct ProgressSnapshot {
    enum class Stage { Idle, Scanning, Working, Finished };
    Stage stage = Stage::Idle;
    qint64 foldersSeen = 0;
    qint64 filesSeen = 0;
    qint64 filesPlanned = 0;
    qint64 filesDone = 0;
    qint64 bytesPlanned = 0;
    qint64 bytesDone = 0;
    qint64 conflicts = 0; // files changed on both sides since the last run
    QStringList inHand;   // the files being worked on now, in the order they started
    qint64 workingMs = 0; // time since the first planned action began
    bool planned = false; // the plan's totals are known

    bool planKnown() const { return planned; }
    // Bytes per second over the time worked so far; 0 before there is a measure.
    double bytesPerSecond() const;
    // Seconds until the plan is done at the rate so far; -1 when unknown.
    qint64 secondsLeft() const;
};

// Counts a run's progress for displays that look at it now and then. The run
// and the pool's threads feed it; a display polls snapshot() on a timer of its
// own, so the run never waits for a display. Every call holds a small lock
// for a few assignments only.
class RunProgress {
public:
    // A new run: scanning, every count zero.
    void reset();
    // The scans' counts so far (the two sides together).
    void noteScanned(qint64 folders, qint64 files);
    // The plan is known: the run will act on files, bytes of which are to travel.
    void setPlanned(qint64 files, qint64 bytes);
    // A planned action that will not run after all (deletions or uploads withheld).
    void dropPlanned(qint64 files, qint64 bytes = 0);
    void actionStarted(const QString& name);
    // The action on name has ended, successfully or not; bytes is its share
    // of the planned bytes.
    void actionFinished(const QString& name, qint64 bytes);
    void noteConflict();
    void finish();
    ProgressSnapshot snapshot() const;

private:
    mutable std::mutex m_mutex;
    ProgressSnapshot m_state;
    QElapsedTimer m_working;
};

// The kinds of action a pass takes on one file.
enum class ActionKind { Upload, Download, DeleteLocal, DeleteRemote };
// "upload", "download", "delete-local", "delete-remote".
QString actionName(ActionKind kind);

// One thing the run did to a file, or a name it left out, for callers that
// want more than log lines (the headless runner's JSON). Reported on the
// run's thread.
struct RunEvent {
    enum class Type { Transfer, Deletion, Failure, Skipped, Conflict };
    Type type = Type::Transfer;
    ActionKind action = ActionKind::Upload; // not for Skipped
    QString file;
    qint64 bytes = 0;
    bool dryRun = false;
    QString message;     // a failure: the line that says why; a skipped name: why; an action of a dry run:
                         // why it would be taken, as its line ends (" (not on the server)")
    QString serverReply; // a failure the server refused: its reply
    QString side;        // a skipped name: "local" or "remote"; a conflict: the version that kept the name,
                         // or empty when the file was skipped
    QString copy;        // a conflict: the local name of the version kept beside it (relative), if any
};

// "1.5 MiB", "340 B": sizes for a person.
QString formatBytes(qint64 bytes);
// "1:05" or "1:02:03" for seconds.
QString formatDuration(qint64 seconds);
// One line about a snapshot: scan counts while scanning, else files and bytes
// done of planned, the rate and the time left.
QString describeProgress(const ProgressSnapshot& progress);

} // namespace engine
