#include "cli/CommandLine.h"

#include <csignal>
#include <cstdio>
#include <limits>
#include <optional>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>

#include "cli/CommandSupport.h"
#include "cli/RunOutput.h"
#include "model/Errors.h"
#include "model/Global.h"
#include "project/SyncThread.h"
#include "project/VellisyncProject.h"
#include "sync/ProjectState.h"

namespace cli {

namespace {

const char* const UsageText = "Usage: vellisync-cli COMMAND [OPTIONS]\n"
                              "\n"
                              "Runs Vellisync projects without the wizard. Each command is shown with the\n"
                              "options it takes.\n"
                              "\n"
                              "run [OPTIONS] PROJECT\n"
                              "    Run a project and print its log. PROJECT is a project file or the caption\n"
                              "    of a stored project (case-insensitive). On a terminal a progress line on\n"
                              "    standard error shows the counts so far. Each option holds for this run\n"
                              "    only; the project is never changed.\n"
                              "  --dry-run                 Scan both sides and log what would be uploaded,\n"
                              "                            downloaded or deleted, and why; change nothing.\n"
                              "  --explain                 After each transfer or deletion, say why the file\n"
                              "                            moved (the two sides' times, or the side that\n"
                              "                            lacks it).\n"
                              "  --connections N           Use up to N connections (1 to 16) for this run\n"
                              "                            only, whatever the project holds.\n"
                              "  --max-delete N            When the run would delete more than N files (an\n"
                              "                            exact copy, or deletions both ways carries over),\n"
                              "                            transfer and delete nothing, say why and exit with\n"
                              "                            2. Both ways: also allows up to N deletions where\n"
                              "                            more than half of the recorded files would go.\n"
                              "  --on-conflict keep-both|skip|local|remote\n"
                              "                            Both ways: for this run only, a file changed on\n"
                              "                            both sides since the last run keeps both versions\n"
                              "                            (the newer under its name, the other beside it\n"
                              "                            locally), is left alone, or takes the local or the\n"
                              "                            remote version on both sides.\n"
                              "  --password-stdin          Read the password for this run from standard input\n"
                              "                            (one line); the project keeps its own. A project\n"
                              "                            whose password is in the desktop keyring needs it\n"
                              "                            when the keyring is absent or locked.\n"
                              "  --quiet                   Print only failures, the summary and the problems\n"
                              "                            line.\n"
                              "  --log-file FILE           Write the whole stamped log to FILE as well, as the\n"
                              "                            wizard's Save Log does.\n"
                              "  --json                    Print one JSON object per line for each transfer,\n"
                              "                            deletion, failure and skipped name, then the\n"
                              "                            summary and the problems, instead of the log.\n"
                              "\n"
                              "list\n"
                              "    List the stored projects: caption and file, one project a line, separated\n"
                              "    by a tab.\n"
                              "\n"
                              "create CAPTION [OPTIONS]\n"
                              "    Store a project under CAPTION (replacing the stored project of that\n"
                              "    caption, if there is one) and print its file. --remote and --local are\n"
                              "    required; every other setting is as for a new project in the wizard.\n"
                              "  --server HOST             The FTP server: a host name or an IP address.\n"
                              "  --port N                  Its port, 1 to 65535 (default 21).\n"
                              "  --user NAME               The user name to log on with (default anonymous).\n"
                              "  --password-stdin          Read the password from standard input (one line).\n"
                              "  --passive                 Passive mode (needed behind most firewalls).\n"
                              "  --remote FOLDER           The folder on the server.\n"
                              "  --local FOLDER            The local folder.\n"
                              "  --mode upload|download|both\n"
                              "                            The direction (default both).\n"
                              "  --subfolders              Subfolders take part.\n"
                              "  --exact                   One way: the target becomes an exact copy (files\n"
                              "                            the source lacks are deleted).\n"
                              "  --include MASKS           Include masks, such as '*.html, *.css'.\n"
                              "  --exclude MASKS           Exclude masks, such as '*.bak,*.tmp'.\n"
                              "  --proxy ftp|socks         Connect through an FTP or a SOCKS proxy.\n"
                              "  --proxy-host HOST         The proxy's host.\n"
                              "  --proxy-port N            The proxy's port (default 21).\n"
                              "  --connections N           Simultaneous connections, 1 to 16 (default 4).\n"
                              "                            Active mode always uses one; more need --passive.\n"
                              "  --on-conflict keep-both|skip\n"
                              "                            Both ways: what a file changed on both sides gets\n"
                              "                            (default keep-both).\n"
                              "  --listing-zone ZONE       The zone the server lists times in (UTC, +01:00,\n"
                              "                            -05:30); learnt on each run when not given.\n"
                              "  --encryption none|explicit|require|implicit\n"
                              "                            TLS: none; explicit when the server offers it\n"
                              "                            (the default); explicit or no run; implicit\n"
                              "                            (port 990 unless --port says otherwise).\n"
                              "  --trust-fingerprint SHA256\n"
                              "                            Accept the server certificate of this SHA-256\n"
                              "                            fingerprint (hex, colons optional), and no other.\n"
                              "\n"
                              "state [--forget] PROJECT\n"
                              "    Show the project's sync state (what two-way runs remember between runs):\n"
                              "    the files recorded as in step, the last complete run and the state file.\n"
                              "  --forget                  Drop the state, so the next run is a first run.\n"
                              "\n"
                              "General options:\n"
                              "  -h, --help                Show this help.\n"
                              "  --version                 Show the version.\n"
                              "\n"
                              "Exit status: 0 the run completed and every action succeeded; 1 the run\n"
                              "completed but an action failed, or a name, a listing line or a folder link\n"
                              "had to be skipped; 2 another run of the project was in progress, the project\n"
                              "could not be loaded, the project names no local or remote folder or an\n"
                              "unknown mode, the connection failed, the server stopped answering, or the\n"
                              "scan of a side that is copied from could not reach its root folder, or\n"
                              "--max-delete withheld the deletions; 130 stopped by Ctrl-C (the file in hand\n"
                              "is finished and the summary printed first).\n"
                              "state: 0, or 1 when the state file cannot be read (the next run moves it\n"
                              "aside and starts afresh); state --forget: 0, or 2 while a run of the project\n"
                              "is in progress.\n";

int listProjects(const QStringList& arguments) {
    if (!arguments.isEmpty())
        return usageError(QStringLiteral("list takes no arguments"));
    for (const StoredProject& project : storedProjects())
        out() << project.caption << '\t' << project.file << '\n';
    out().flush();
    return ExitSuccess;
}

// The project file that a PROJECT argument names: an existing file, or the
// one stored project whose caption it is.
std::optional<QString> resolveProjectFile(const QString& argument, QString& error) {
    const QFileInfo info(argument);
    if (info.isFile())
        return info.absoluteFilePath();
    // A caption may well be the name of a folder where the runner happens to
    // be started ("site", "bench"): only when no caption matches is it taken
    // for a path.
    const std::vector<StoredProject> matches = projectsWithCaption(argument);
    if (matches.size() == 1)
        return matches.front().file;
    if (matches.empty() && info.exists()) {
        error = QStringLiteral("'%1' is not a project file").arg(argument);
        return std::nullopt;
    }
    if (matches.empty()) {
        error =
            QStringLiteral("no project file or stored project caption '%1' (see 'vellisync-cli list')").arg(argument);
        return std::nullopt;
    }
    error = QStringLiteral("the caption '%1' is ambiguous; it matches:").arg(argument);
    for (const StoredProject& match : matches)
        error += QStringLiteral("\n  %1\t%2").arg(match.caption, match.file);
    return std::nullopt;
}

// Loads the project a PROJECT argument names into project; false, with the
// reason in error, when there is none or it cannot be read.
bool loadProject(const QString& argument, TVellisyncProject& project, QString& error) {
    const std::optional<QString> file = resolveProjectFile(argument, error);
    if (!file)
        return false;
    try {
        if (project.LoadFromFile(*file))
            return true;
        error = QStringLiteral("'%1' holds a value of an unknown type; it is not a valid project file").arg(*file);
    } catch (const VellisyncError& loadError) {
        error = loadError.message();
    }
    return false;
}

// Ctrl-C asks the run to stop; the signal handler only writes to a pipe that
// the event loop watches, since nothing else is safe inside a handler.
class InterruptWatcher {
public:
    // progress: the terminal's progress line, taken off before a message.
    InterruptWatcher(TVellisyncProject& project, ProgressLine& progress) : m_project(project), m_progress(progress) {
        if (::pipe(s_pipe) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { onInterrupt(); });
        struct sigaction action = {};
        action.sa_handler = &InterruptWatcher::handleSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_previous);
    }

    ~InterruptWatcher() {
        ::sigaction(SIGINT, &m_previous, nullptr);
        m_notifier.reset();
        if (s_pipe[0] >= 0) {
            ::close(s_pipe[0]);
            ::close(s_pipe[1]);
            s_pipe[0] = s_pipe[1] = -1;
        }
    }

    bool interrupted() const { return m_interrupted; }

private:
    static void handleSignal(int) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    }

    void onInterrupt() {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(s_pipe[0], &byte, 1);
        m_progress.clear();
        if (m_interrupted) {
            // A second Ctrl-C: the user does not want to wait for the file in hand.
            err() << "vellisync-cli: interrupted again; leaving at once" << Qt::endl;
            ::_exit(ExitInterrupted);
        }
        m_interrupted = true;
        err() << "vellisync-cli: stopping after the file in hand (Ctrl-C again to leave at once)" << Qt::endl;
        m_project.RequestStop();
    }

    static inline int s_pipe[2] = {-1, -1};
    TVellisyncProject& m_project;
    ProgressLine& m_progress;
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previous = {};
    bool m_interrupted = false;
};

// What makes a loaded project unsafe to run unattended, or an empty text. An
// empty local folder would mean the working folder, under a scheduler the home
// folder, where an exact download deletes; an unknown mode does nothing and
// would still look like success.
QString unrunnableReason(const TVellisyncProject& project) {
    if (trimBlanksAndControls(project.LocalFolder).isEmpty())
        return QStringLiteral("it names no local folder");
    if (trimBlanksAndControls(project.RemoteFolder).isEmpty())
        return QStringLiteral("it names no remote folder");
    if (!setting::isKnown(project.SyncMode))
        return QStringLiteral("its SyncMode %1 is unknown (0 upload, 1 download, 2 both ways)")
            .arg(quint8(project.SyncMode));
    return {};
}

// What the options of run ask for.
struct RunOptions {
    bool dryRun = false;
    bool explain = false;
    bool passwordFromStdin = false;
    std::optional<int> connections;
    std::optional<int> maxDelete;
    std::optional<ConflictRule> onConflict;
    OutputOptions output;
    QString project;
};

// The rule an --on-conflict value names, in the order of ConflictRule.
std::optional<ConflictRule> conflictRuleNamed(const QString& name) {
    static const QStringList names{QStringLiteral("keep-both"), QStringLiteral("skip"), QStringLiteral("local"),
                                   QStringLiteral("remote")};
    const qsizetype index = names.indexOf(name);
    if (index < 0)
        return std::nullopt;
    return ConflictRule(index);
}

std::optional<RunOptions> parseRunOptions(const QStringList& arguments, QString& error) {
    RunOptions options;
    QStringList positional;
    auto number = [&](int& i, int low, int high) -> std::optional<int> {
        const QString option = arguments.at(i);
        QString text;
        if (!takeValue(arguments, i, text, error))
            return std::nullopt;
        return numberIn(option, text, low, high, error);
    };
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--dry-run")) {
            options.dryRun = true;
        } else if (argument == QLatin1String("--explain")) {
            options.explain = true;
        } else if (argument == QLatin1String("--connections")) {
            options.connections = number(i, LowestConnections, TVellisyncProject::MaxConnections);
            if (!options.connections)
                return std::nullopt;
        } else if (argument == QLatin1String("--max-delete")) {
            options.maxDelete = number(i, 0, std::numeric_limits<qint32>::max());
            if (!options.maxDelete)
                return std::nullopt;
        } else if (argument == QLatin1String("--on-conflict")) {
            QString name;
            if (!takeValue(arguments, i, name, error))
                return std::nullopt;
            options.onConflict = conflictRuleNamed(name);
            if (!options.onConflict) {
                error = QStringLiteral("--on-conflict is keep-both, skip, local or remote");
                return std::nullopt;
            }
        } else if (argument == QLatin1String("--password-stdin")) {
            options.passwordFromStdin = true;
        } else if (argument == QLatin1String("--quiet")) {
            options.output.quiet = true;
        } else if (argument == QLatin1String("--json")) {
            options.output.json = true;
        } else if (argument == QLatin1String("--log-file")) {
            if (!takeValue(arguments, i, options.output.logFile, error))
                return std::nullopt;
        } else if (argument.startsWith(QLatin1String("--"))) {
            error = QStringLiteral("unknown option '%1' for run").arg(argument);
            return std::nullopt;
        } else {
            positional << argument;
        }
    }
    if (positional.size() != 1) {
        error = QStringLiteral("run needs exactly one PROJECT (a project file or a caption)");
        return std::nullopt;
    }
    options.project = positional.front();
    return options;
}

int runProject(const QStringList& arguments) {
    QString optionError;
    const std::optional<RunOptions> options = parseRunOptions(arguments, optionError);
    if (!options)
        return usageError(optionError);

    TVellisyncProject project;
    QString error;
    if (!loadProject(options->project, project, error))
        return failure(error);
    if (const QString reason = unrunnableReason(project); !reason.isEmpty())
        return failure(QStringLiteral("'%1' cannot be run: %2").arg(project.FileName, reason));
    project.DryRun = options->dryRun;
    project.Explain = options->explain;
    // For this run only: the runner never saves a project it runs.
    if (options->connections)
        project.SetConnections(*options->connections);
    if (options->maxDelete)
        project.MaxDelete = *options->maxDelete;
    if (options->onConflict)
        project.OnConflict = *options->onConflict;
    if (options->passwordFromStdin) {
        QTextStream in(stdin);
        const QString password = in.readLine();
        if (password.isNull())
            return failure(QStringLiteral("--password-stdin: no password on standard input"));
        project.Password = password;
    } else if (QString keyringError; !project.FetchKeyringPassword(keyringError)) {
        return failure(QStringLiteral("'%1' keeps its password in the desktop keyring, which cannot give it (%2); "
                                      "give the password with --password-stdin")
                           .arg(project.FileName, keyringError));
    }

    // The same road as the wizard's run page: a worker thread that hands every
    // stamped line to this thread, which prints it as it comes.
    ProgressLine progress(project);
    RunPrinter printer(options->output, progress);
    if (!printer.open(error))
        return failure(error);
    project.OnRunEvent = [&printer](const engine::RunEvent& event) { printer.reportEvent(event); };
    InterruptWatcher interrupts(project, progress);
    auto* thread = new TFTPSyncThread(); // deletes itself after OnTerminate
    thread->SetLines(&printer);
    thread->SetProject(&project);
    thread->SetOnTerminate([](TFTPSyncThread&) { QCoreApplication::quit(); });
    thread->Resume();
    QCoreApplication::exec();
    const ExitStatus status = exitStatusFor(project.LastRunOutcome(), project.SyncMode, interrupts.interrupted());
    printer.reportEnd(project.LastRunOutcome(), project.DryRun, status,
                      cannotRunReason(project.LastRunOutcome(), project.SyncMode));
    return status;
}

int showState(const TVellisyncProject& project) {
    const engine::StateSummary summary = engine::describeState(project.Settings());
    if (!summary.exists) {
        out() << "No sync state: the next run is a first run." << Qt::endl;
        return ExitSuccess;
    }
    if (!summary.problem.isEmpty()) {
        out() << "The sync state cannot be read (" << summary.problem
              << "); the next run moves it aside and starts afresh.\n"
              << "State file:        " << summary.path << Qt::endl;
        return ExitActionFailed;
    }
    const QString lastRun =
        summary.lastCompleteRun
            ? summary.lastCompleteRun->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                  QStringLiteral(" (local time)")
            : QStringLiteral("none yet");
    out() << "Files recorded:    " << summary.files << '\n'
          << "Last complete run: " << lastRun << '\n'
          << "State file:        " << summary.path << Qt::endl;
    return ExitSuccess;
}

int forgetState(const TVellisyncProject& project) {
    const bool existed = engine::describeState(project.Settings()).exists;
    if (const QString refusal = engine::forgetState(project.Settings()); !refusal.isEmpty())
        return failure(refusal);
    out() << (existed ? "Sync state forgotten: the next run is a first run."
                      : "No sync state to forget: the next run is a first run.")
          << Qt::endl;
    return ExitSuccess;
}

// The state command: what the project's sync state records, or (--forget)
// dropping it. Reads the state without opening it, so it never changes a
// state a run is using.
int showOrForgetState(const QStringList& arguments) {
    bool forget = false;
    QStringList positional;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--forget"))
            forget = true;
        else if (argument.startsWith(QLatin1String("--")))
            return usageError(QStringLiteral("unknown option '%1' for state").arg(argument));
        else
            positional << argument;
    }
    if (positional.size() != 1)
        return usageError(QStringLiteral("state needs exactly one PROJECT (a project file or a caption)"));
    TVellisyncProject project;
    QString error;
    if (!loadProject(positional.front(), project, error))
        return failure(error);
    return forget ? forgetState(project) : showState(project);
}

} // namespace

QString cannotRunReason(const RunOutcome& outcome, setting::SyncMode syncMode) {
    if (!outcome.notStarted.isEmpty())
        return outcome.notStarted;
    if (!outcome.connected)
        return QStringLiteral("the connection failed");
    if (!outcome.error.isEmpty())
        return outcome.error;
    if (outcome.serverUnreachable)
        return QStringLiteral("the server could no longer be reached");
    if (outcome.serverStoppedAnswering)
        return QStringLiteral("the server stopped answering");
    if (outcome.deletionsWithheld > 0)
        return QStringLiteral("the run would delete more files than --max-delete allows");
    // A root that the run copies from must be reachable. The target's root may
    // be missing: a first upload or download creates it.
    if (syncMode != setting::SyncMode::RemoteToLocal && !outcome.localRootReached)
        return QStringLiteral("the local folder could not be read");
    if (syncMode != setting::SyncMode::LocalToRemote && !outcome.remoteRootReached)
        return QStringLiteral("the remote folder could not be entered or listed");
    return {};
}

ExitStatus exitStatusFor(const RunOutcome& outcome, setting::SyncMode syncMode, bool interrupted) {
    if (interrupted)
        return ExitInterrupted;
    if (!cannotRunReason(outcome, syncMode).isEmpty())
        return ExitCannotRun;
    // A skipped name or an unreadable listing line is a file that was not
    // synchronised: never a clean success.
    if (!outcome.completed || outcome.failedActions > 0 || outcome.problems > 0)
        return ExitActionFailed;
    return ExitSuccess;
}

int runCommandLine(const QStringList& arguments) {
    if (arguments.isEmpty())
        return usageError(QStringLiteral("missing COMMAND"));
    const QString& command = arguments.front();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("-h") || command == QLatin1String("--help") ||
        rest.contains(QStringLiteral("--help"))) {
        out() << UsageText;
        out().flush();
        return ExitSuccess;
    }
    if (command == QLatin1String("--version")) {
        out() << "vellisync-cli " << QCoreApplication::applicationVersion() << Qt::endl;
        return ExitSuccess;
    }
    if (command == QLatin1String("run"))
        return runProject(rest);
    if (command == QLatin1String("list"))
        return listProjects(rest);
    if (command == QLatin1String("create"))
        return createProject(rest);
    if (command == QLatin1String("state"))
        return showOrForgetState(rest);
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace cli
