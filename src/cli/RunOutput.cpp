#include "cli/RunOutput.h"

#include <algorithm>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "sync/RunProgress.h"
#include "sync/RelativeName.h"
#include "project/VellisyncProject.h"

namespace cli {

namespace {

// JSON escapes only the C0 controls; DEL, the C1 controls and bidirectional
// overrides would reach a terminal that shows the events as they are.
QByteArray withControlsEscaped(const QByteArray& json) {
    const QString text = QString::fromUtf8(json);
    const auto needsEscape = [](QChar c) { return c.unicode() >= 0x20 && isControlOrFormat(c); };
    if (std::none_of(text.cbegin(), text.cend(), needsEscape))
        return json;
    QString escaped;
    for (const QChar c : text)
        escaped += needsEscape(c) ? QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')) : QString(c);
    return escaped.toUtf8();
}

// Often enough to look alive, seldom enough to cost the run nothing.
constexpr int ProgressIntervalMs = 250;

// The message of a stamped line ("DATE TIME; message").
QString messageOf(const QString& line) {
    const qsizetype joint = line.indexOf(QStringLiteral("; "));
    return joint < 0 ? line : line.mid(joint + 2);
}

int terminalColumns() {
    winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void writeToStderr(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// Erases the terminal line the cursor is on.
constexpr const char* EraseLine = "\r\033[K";

} // namespace

ProgressLine::ProgressLine(const TVellisyncProject& project) : m_project(project) {
    if (!::isatty(STDERR_FILENO))
        return;
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(ProgressIntervalMs);
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { draw(); });
    m_timer->start();
}

ProgressLine::~ProgressLine() {
    clear();
}

void ProgressLine::clear() {
    if (!m_shown)
        return;
    writeToStderr(EraseLine);
    m_shown = false;
}

void ProgressLine::finish() {
    if (!active())
        return;
    m_timer->stop();
    draw();
    writeToStderr("\n");
    m_shown = false;
    m_timer.reset();
}

void ProgressLine::draw() {
    const engine::ProgressSnapshot progress = m_project.Progress().snapshot();
    QString text = engine::describeProgress(progress);
    if (!progress.inHand.isEmpty())
        text += QStringLiteral(" | ") + progress.inHand.join(QStringLiteral(", "));
    // A file name is the server's text: an escape sequence in it must not
    // reach the terminal, where it could move the cursor or retitle the window.
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    // A line longer than the terminal would wrap, and \r would then redraw
    // only its last part.
    const int room = terminalColumns() - 1;
    if (text.size() > room)
        text = text.left(std::max(0, room - 3)) + QStringLiteral("...");
    writeToStderr(EraseLine + text.toUtf8());
    m_shown = true;
}

RunPrinter::RunPrinter(OutputOptions options, ProgressLine& progress)
    : m_options(std::move(options)), m_progress(progress) {}

bool RunPrinter::open(QString& error) {
    if (m_options.logFile.isEmpty())
        return true;
    m_logFile.setFileName(m_options.logFile);
    if (m_logFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    error = QStringLiteral("Cannot write \"%1\": %2")
                .arg(QDir::toNativeSeparators(m_options.logFile), m_logFile.errorString());
    return false;
}

void RunPrinter::AppendLine(const QString& line) {
    if (m_logFile.isOpen()) {
        // The form of Save Log: UTF-8, each line ended by CR LF.
        m_logFile.write(line.toUtf8() + "\r\n");
        m_logFile.flush();
    }
    if (m_options.json || (m_options.quiet && !shownWhenQuiet(messageOf(line))))
        return;
    m_progress.clear();
    const std::lock_guard lock(m_stdoutMutex);
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// The lines that tell of work going as it should; every other line (a failure,
// a skipped name, a withheld deletion, the summary, the problems line) is
// shown, so that a line the runner does not know is never hidden.
bool RunPrinter::shownWhenQuiet(const QString& message) const {
    static const QRegularExpression routine(QRegularExpression::anchoredPattern(
        QStringLiteral("Opening FTP by using .*\\.\\.\\.|Done!|Collecting (local|FTP) files\\.\\.\\.|"
                       "File .* has been (uploaded|downloaded)|(Remote|Local) file .* has been deleted|"
                       "Remote file .* has been restored from an interrupted upload|Would .*|Dry run: .*")));
    return !routine.match(message).hasMatch();
}

void RunPrinter::writeJsonLine(const QByteArray& compact) {
    const QByteArray json = withControlsEscaped(compact);
    const std::lock_guard lock(m_stdoutMutex);
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void RunPrinter::reportEvent(const engine::RunEvent& event) {
    if (!m_options.json)
        return;
    QJsonObject object;
    switch (event.type) {
    case engine::RunEvent::Type::Transfer:
        object.insert(QStringLiteral("event"), QStringLiteral("transfer"));
        object.insert(QStringLiteral("bytes"), event.bytes);
        break;
    case engine::RunEvent::Type::Deletion:
        object.insert(QStringLiteral("event"), QStringLiteral("deletion"));
        break;
    case engine::RunEvent::Type::Failure:
        object.insert(QStringLiteral("event"), QStringLiteral("failure"));
        object.insert(QStringLiteral("message"), event.message);
        if (!event.serverReply.isEmpty())
            object.insert(QStringLiteral("reply"), event.serverReply);
        break;
    case engine::RunEvent::Type::Skipped:
        // The name as it is: JSON escapes its control characters, so a line
        // break in it cannot end the line of the event.
        object.insert(QStringLiteral("event"), QStringLiteral("skipped"));
        object.insert(QStringLiteral("side"), event.side);
        object.insert(QStringLiteral("reason"), event.message);
        break;
    case engine::RunEvent::Type::Conflict:
        // kept: the version under the file's name on both sides ("local",
        // "remote"), or null when the file was left as it was on both.
        object.insert(QStringLiteral("event"), QStringLiteral("conflict"));
        object.insert(QStringLiteral("kept"), event.side.isEmpty() ? QJsonValue() : QJsonValue(event.side));
        object.insert(QStringLiteral("copy"), event.copy.isEmpty() ? QJsonValue() : QJsonValue(event.copy));
        break;
    }
    if (event.type != engine::RunEvent::Type::Skipped && event.type != engine::RunEvent::Type::Conflict)
        object.insert(QStringLiteral("action"), engine::actionName(event.action));
    object.insert(QStringLiteral("file"), event.file);
    object.insert(QStringLiteral("dryRun"), event.dryRun);
    writeJsonLine(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void RunPrinter::reportEnd(const RunOutcome& outcome, bool dryRun, int exitStatus, const QString& cannotRunReason) {
    m_progress.finish();
    if (!m_options.json)
        return;
    QJsonObject summary{
        {QStringLiteral("event"), QStringLiteral("summary")}, {QStringLiteral("uploaded"), outcome.uploaded},
        {QStringLiteral("downloaded"), outcome.downloaded},   {QStringLiteral("deleted"), outcome.deleted},
        {QStringLiteral("failed"), outcome.failedActions},    {QStringLiteral("completed"), outcome.completed},
        {QStringLiteral("stopped"), outcome.stopped},         {QStringLiteral("dryRun"), dryRun},
        {QStringLiteral("conflicts"), outcome.conflicts},
    };
    writeJsonLine(QJsonDocument(summary).toJson(QJsonDocument::Compact));
    QJsonObject problems{
        {QStringLiteral("event"), QStringLiteral("problems")},
        {QStringLiteral("count"), outcome.problems + outcome.failedActions},
        {QStringLiteral("deletionsWithheld"), outcome.deletionsWithheld},
        {QStringLiteral("exitStatus"), exitStatus},
    };
    if (!cannotRunReason.isEmpty())
        problems.insert(QStringLiteral("reason"), cannotRunReason);
    writeJsonLine(QJsonDocument(problems).toJson(QJsonDocument::Compact));
}

} // namespace cli
