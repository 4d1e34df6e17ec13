#pragma once

#include <QString>

// What a run did, for callers that need more than the log (the headless
// runner's exit status).
struct RunOutcome {
    bool connected = false;          // Connect succeeded
    bool localRootReached = false;   // the local scan could list its root folder
    bool remoteRootReached = false;  // the remote scan could enter and list its root folder
    bool localScanComplete = false;  // the local scan reached its root and every folder below
    bool remoteScanComplete = false; // the remote scan reached its root and every folder below
    bool completed = false;          // the run reached its summary
    bool stopped = false;            // a stop was requested
    int failedActions = 0;           // transfers and deletions that failed
    int problems = 0;                // folders not read completely, names skipped
    int uploaded = 0;                // the counts of the summary line
    int downloaded = 0;
    int deleted = 0;
    int conflicts = 0;                   // files changed on both sides since the last run
    int deletionsWithheld = 0;           // deletions planned beyond MaxDelete: the run acted on no file
    bool serverStoppedAnswering = false; // the run ended because the server no longer answered
    bool serverUnreachable = false;      // ... because nothing answered at its address any more
    QString error;                       // message of an error that left the run
    // Why the run did not start at all (another run holds the same pair of
    // folders); nothing was connected or touched.
    QString notStarted;
    // SHA-256 fingerprint ("AB:CD:...") of a server certificate that stopped
    // the run as untrusted or changed: the one the user may choose to trust.
    QString refusedCertificate;
};
