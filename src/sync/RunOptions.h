#pragma once

#include <QtGlobal>

#include <optional>

// How a run settles a file changed on both sides since the last run.
enum class ConflictRule : quint8 {
    KeepBoth,   // the newer version under the name on both sides, the other kept beside it locally
    Skip,       // neither side changes; the run reports it
    KeepLocal,  // the local version replaces the remote one
    KeepRemote, // the remote version replaces the local one
};

// What a run does beyond the stored settings, fixed when it is made.
struct RunOptions {
    // The passes decide as usual but only log what they would do ("Would
    // upload %s" and the like); nothing changes on either side.
    bool DryRun = false;
    // Each transfer and deletion line of a real run also says why the file
    // moved, as a dry run always does.
    bool Explain = false;
    // When not negative, an exact copy whose plan would delete more files
    // than this transfers and deletes nothing and says why
    // (LastRunOutcome.deletionsWithheld).
    qint32 MaxDelete = -1;
    // For this run only, instead of the project's Conflicts setting.
    std::optional<ConflictRule> OnConflict;
};
