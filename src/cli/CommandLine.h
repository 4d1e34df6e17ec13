#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "model/ProjectSettings.h"

struct RunOutcome;

namespace cli {

// Exit statuses of the headless runner.
enum ExitStatus : int {
    ExitSuccess = 0,      // the run completed and every action succeeded
    ExitActionFailed = 1, // the run completed but an action failed; state: the state file cannot be read
    ExitCannotRun = 2,    // bad usage, project not loadable, no connection, a scan missed its root, deletions withheld
    ExitInterrupted = 130 // stopped with Ctrl-C
};

// Runs the command line (arguments without the program name); returns the
// exit status. Needs a QCoreApplication and the initialised globals.
int runCommandLine(const QStringList& arguments);

// The exit status that a finished run of a project in syncMode earns.
ExitStatus exitStatusFor(const RunOutcome& outcome, setting::SyncMode syncMode, bool interrupted);
// Why a finished run earns ExitCannotRun, or an empty text when it does not.
QString cannotRunReason(const RunOutcome& outcome, setting::SyncMode syncMode);

} // namespace cli
