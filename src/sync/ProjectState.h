#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

#include "model/ProjectSettings.h"
#include "sync/SyncState.h"

namespace engine {

// The pair of folders whose sync state a project's runs use.
StateIdentity stateIdentityOf(const ProjectSettings& settings);

// What the sync state of a project holds, read without changing anything.
struct StateSummary {
    QString path; // where the state is (or would be) kept
    bool exists = false;
    int files = 0;                            // files recorded as in step
    std::optional<QDateTime> lastCompleteRun; // UTC
    QString problem;                          // why an existing state could not be read; empty when it could
};
StateSummary describeState(const ProjectSettings& settings);

// Drops the project's sync state, so that its next run is a first run. Takes
// the project's run lock for it: a state a run is using is left alone. An
// empty text when no state is left, else why.
QString forgetState(const ProjectSettings& settings);

} // namespace engine
