#include "project/PlanPreview.h"

#include <algorithm>
#include <exception>

#include <QRegularExpression>

#include "model/Errors.h"
#include "sync/SyncRun.h"

namespace {

// Lines that tell of the dry run going as it should, or that the table and
// its count line say already.
bool routineLine(const QString& line) {
    static const QRegularExpression routine(QRegularExpression::anchoredPattern(
        QStringLiteral("Opening FTP by using .*\\.\\.\\.|Done!|Collecting (local|FTP) files\\.\\.\\.|Dry run: .*|"
                       "\\d+ files would be .*")));
    return routine.match(line).hasMatch();
}

} // namespace

int PreviewResult::deletions() const {
    return int(std::count_if(actions.cbegin(), actions.cend(),
                             [](const PreviewAction& action) { return action.isDeletion(); }));
}

PlanPreview::PlanPreview(const ProjectSettings& settings) : m_progress(std::make_shared<engine::RunProgress>()) {
    RunHooks hooks;
    // A run clears its stop flag as it starts: a stop asked before that is
    // passed on again with the run's first news.
    hooks.log = [this](const QString& line) {
        passStopOn();
        noteLine(line);
    };
    hooks.progress = [this] { passStopOn(); };
    hooks.event = [this](const engine::RunEvent& event) { noteEvent(event); };
    hooks.counts = m_progress;
    RunOptions options;
    options.DryRun = true;
    m_run = std::make_unique<SyncRun>(settings, options, std::move(hooks));
}

PlanPreview::~PlanPreview() {
    requestStop();
    wait();
}

void PlanPreview::requestStop() {
    m_stopRequested = true;
    m_run->RequestStop();
}

void PlanPreview::passStopOn() {
    if (m_stopRequested)
        m_run->RequestStop();
}

void PlanPreview::run() {
    if (m_stopRequested) {
        m_result.outcome.stopped = true;
        return;
    }
    try {
        m_run->Run();
    } catch (const VellisyncError& error) {
        m_result.error = error.message();
    } catch (const std::exception& error) {
        m_result.error = QString::fromLocal8Bit(error.what());
    } catch (...) {
        m_result.error = QStringLiteral("unknown error");
    }
    m_result.outcome = m_run->LastRunOutcome;
}

void PlanPreview::noteLine(const QString& line) {
    if (!routineLine(line))
        m_result.notes.append(line);
}

void PlanPreview::noteEvent(const engine::RunEvent& event) {
    const bool action =
        event.type == engine::RunEvent::Type::Transfer || event.type == engine::RunEvent::Type::Deletion;
    if (!action || !event.dryRun)
        return;
    // The dry run logs each action's line just before its event: the line
    // belongs to the table's row, not to the notes.
    QString line;
    if (!m_result.notes.isEmpty() && m_result.notes.constLast().startsWith(QLatin1String("Would ")))
        line = m_result.notes.takeLast();
    m_result.actions.push_back({event.action, event.file, event.message, event.bytes, line});
}
