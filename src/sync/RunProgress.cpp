#include "sync/RunProgress.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

// Below this much work the rate says more about the connection's set-up than
// about its speed.
constexpr qint64 ShortestMeasureMs = 500;

} // namespace

double ProgressSnapshot::bytesPerSecond() const {
    if (workingMs < ShortestMeasureMs || bytesDone <= 0)
        return 0;
    return double(bytesDone) * 1000.0 / double(workingMs);
}

qint64 ProgressSnapshot::secondsLeft() const {
    if (stage != Stage::Working || workingMs < ShortestMeasureMs)
        return -1;
    // Bytes are the better measure when there are any to move; a run of
    // deletions only goes by files.
    double share = 0;
    if (bytesPlanned > 0 && bytesDone > 0)
        share = double(bytesDone) / double(bytesPlanned);
    else if (bytesPlanned == 0 && filesPlanned > 0 && filesDone > 0)
        share = double(filesDone) / double(filesPlanned);
    if (share <= 0)
        return -1;
    return std::max<qint64>(0, std::llround(double(workingMs) / 1000.0 * (1.0 - share) / share));
}

void RunProgress::reset() {
    const std::lock_guard lock(m_mutex);
    m_state = ProgressSnapshot{};
    m_state.stage = ProgressSnapshot::Stage::Scanning;
    m_working.invalidate();
}

void RunProgress::noteScanned(qint64 folders, qint64 files) {
    const std::lock_guard lock(m_mutex);
    m_state.foldersSeen = folders;
    m_state.filesSeen = files;
}

void RunProgress::setPlanned(qint64 files, qint64 bytes) {
    const std::lock_guard lock(m_mutex);
    m_state.stage = ProgressSnapshot::Stage::Working;
    m_state.planned = true;
    m_state.filesPlanned = files;
    m_state.bytesPlanned = bytes;
    m_working.start();
}

void RunProgress::dropPlanned(qint64 files, qint64 bytes) {
    const std::lock_guard lock(m_mutex);
    m_state.filesPlanned = std::max(m_state.filesDone, m_state.filesPlanned - files);
    m_state.bytesPlanned = std::max(m_state.bytesDone, m_state.bytesPlanned - bytes);
}

void RunProgress::actionStarted(const QString& name) {
    const std::lock_guard lock(m_mutex);
    m_state.inHand.append(name);
}

void RunProgress::actionFinished(const QString& name, qint64 bytes) {
    const std::lock_guard lock(m_mutex);
    m_state.inHand.removeOne(name);
    ++m_state.filesDone;
    m_state.bytesDone += bytes;
}

void RunProgress::noteConflict() {
    const std::lock_guard lock(m_mutex);
    ++m_state.conflicts;
}

void RunProgress::finish() {
    const std::lock_guard lock(m_mutex);
    if (m_working.isValid())
        m_state.workingMs = m_working.elapsed();
    m_working.invalidate();
    m_state.stage = ProgressSnapshot::Stage::Finished;
    m_state.inHand.clear();
}

ProgressSnapshot RunProgress::snapshot() const {
    const std::lock_guard lock(m_mutex);
    ProgressSnapshot copy = m_state;
    if (m_working.isValid())
        copy.workingMs = m_working.elapsed();
    return copy;
}

QString actionName(ActionKind kind) {
    switch (kind) {
    case ActionKind::Upload:
        return QStringLiteral("upload");
    case ActionKind::Download:
        return QStringLiteral("download");
    case ActionKind::DeleteLocal:
        return QStringLiteral("delete-local");
    case ActionKind::DeleteRemote:
        return QStringLiteral("delete-remote");
    }
    return {};
}

QString formatBytes(qint64 bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    double value = double(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', value < 10 ? 1 : 0).arg(QLatin1String(units[unit]));
}

QString formatDuration(qint64 seconds) {
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds / 60 % 60;
    const QString secs = QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (hours > 0)
        return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(secs);
    return QStringLiteral("%1:%2").arg(minutes).arg(secs);
}

QString describeProgress(const ProgressSnapshot& progress) {
    if (progress.stage == ProgressSnapshot::Stage::Idle)
        return {};
    if (!progress.planKnown() && progress.stage == ProgressSnapshot::Stage::Finished)
        return QStringLiteral("Finished before any file was planned");
    if (!progress.planKnown())
        return QStringLiteral("Scanning: %1 folders, %2 files seen").arg(progress.foldersSeen).arg(progress.filesSeen);
    QString text = QStringLiteral("%1 of %2 files").arg(progress.filesDone).arg(progress.filesPlanned);
    if (progress.bytesPlanned > 0)
        text += QStringLiteral(", %1 of %2").arg(formatBytes(progress.bytesDone), formatBytes(progress.bytesPlanned));
    if (const double rate = progress.bytesPerSecond(); rate > 0)
        text += QStringLiteral(", %1/s").arg(formatBytes(qint64(rate)));
    if (const qint64 left = progress.secondsLeft(); left >= 0)
        text += QStringLiteral(", %1 left").arg(formatDuration(left));
    return text;
}

} // namespace engine
