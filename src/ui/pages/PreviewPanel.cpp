#include "ui/pages/PreviewPanel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

#include "project/PlanPreview.h"
#include "sync/RelativeName.h"
#include "ui/ErrorHandler.h"
#include "ui/pages/Controls.h"

namespace wizard {

namespace {

constexpr int ProgressIntervalMs = 200;
// Deletions stand out in a colour that reads as a warning on light and dark palettes alike.
const QColor DeletionColour(0xc0, 0x1c, 0x1c);

enum Column { ActionColumn, FileColumn, ReasonColumn, SizeColumn, ColumnCount };

QString actionText(engine::ActionKind kind) {
    switch (kind) {
    case engine::ActionKind::Upload:
        return QStringLiteral("Upload");
    case engine::ActionKind::Download:
        return QStringLiteral("Download");
    case engine::ActionKind::DeleteLocal:
        return QStringLiteral("Delete local");
    case engine::ActionKind::DeleteRemote:
        return QStringLiteral("Delete remote");
    }
    return {};
}

// " (local 2026-12-08 14:03, remote 2026-12-07 09:12)" as a cell reads it:
// "local 2026-12-08 14:03, remote 2026-12-07 09:12"; two groups joined by "; ".
QString reasonText(const QString& reason) {
    QString text = reason.trimmed();
    if (text.startsWith(QLatin1Char('(')) && text.endsWith(QLatin1Char(')')))
        text = text.mid(1, text.size() - 2);
    return text.replace(QStringLiteral(") ("), QStringLiteral("; "));
}

QString filesText(int count) {
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

// "7 files to DELETE (marked), 3 to upload, 1 to download": the line above
// the table, deletions first, where a cut-off line still shows them.
QString countsText(const PreviewResult& result) {
    int uploads = 0;
    int downloads = 0;
    for (const PreviewAction& action : result.actions) {
        uploads += action.action == engine::ActionKind::Upload;
        downloads += action.action == engine::ActionKind::Download;
    }
    const int deletions = result.deletions();
    if (result.actions.empty())
        return QStringLiteral("Nothing to do: both sides are in step.");
    if (deletions == 0)
        return QStringLiteral("%1 to upload, %2 to download, nothing to delete.")
            .arg(filesText(uploads))
            .arg(downloads);
    return QStringLiteral("%1 to DELETE (marked), %2 to upload, %3 to download.")
        .arg(filesText(deletions))
        .arg(uploads)
        .arg(downloads);
}

QTableWidgetItem* newCell(const QString& text, bool deletion) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setData(Qt::UserRole, deletion);
    if (deletion) {
        item->setForeground(DeletionColour);
        QFont font = item->font();
        font.setBold(true);
        item->setFont(font);
    }
    return item;
}

} // namespace

PreviewPanel::PreviewPanel(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* buttons = new QHBoxLayout;
    bPreview = new QPushButton(QStringLiteral("Preview"), this);
    bPreview->setObjectName(QStringLiteral("bPreview"));
    bPreview->setToolTip(QStringLiteral("Show what Go! would do, without changing anything on either side"));
    bCancelPreview = new QPushButton(QStringLiteral("Cancel"), this);
    bCancelPreview->setObjectName(QStringLiteral("bCancelPreview"));
    lPreviewCounts = new QLabel(this);
    lPreviewCounts->setObjectName(QStringLiteral("lPreviewCounts"));
    lPreviewCounts->setTextFormat(Qt::PlainText);
    // A long line must not widen the fixed window.
    lPreviewCounts->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    buttons->addWidget(bPreview);
    buttons->addWidget(bCancelPreview);
    buttons->addWidget(lPreviewCounts, 1);
    layout->addLayout(buttons);

    tvPreview = new QTableWidget(0, ColumnCount, this);
    tvPreview->setObjectName(QStringLiteral("tvPreview"));
    tvPreview->setHorizontalHeaderLabels(
        {QStringLiteral("Action"), QStringLiteral("File"), QStringLiteral("Reason"), QStringLiteral("Size")});
    tvPreview->verticalHeader()->hide();
    tvPreview->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvPreview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvPreview->setWordWrap(false);
    tvPreview->horizontalHeader()->setSectionResizeMode(FileColumn, QHeaderView::Stretch);
    tvPreview->horizontalHeader()->setSectionResizeMode(ReasonColumn, QHeaderView::Stretch);
    tvPreview->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    layout->addWidget(tvPreview, 1);

    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(ProgressIntervalMs);
    connect(m_progressTimer, &QTimer::timeout, this, [this] { showProgress(); });
    connect(bPreview, &QPushButton::clicked, this, guarded([this] { Q_EMIT previewRequested(); }));
    connect(bCancelPreview, &QPushButton::clicked, this, guarded([this] { cancel(); }));
    clear();
}

PreviewPanel::~PreviewPanel() = default;

bool PreviewPanel::running() const {
    return m_preview && !m_preview->isFinished();
}

void PreviewPanel::clear() {
    m_afterEnd = {};
    m_progressTimer->stop();
    m_preview.reset(); // stops the dry run and waits for it
    m_deletions.reset();
    lPreviewCounts->clear();
    lPreviewCounts->setPalette(palette());
    tvPreview->clearSpans();
    tvPreview->setRowCount(0);
    tvPreview->hide();
    showButtons();
    Q_EMIT previewShown(false);
}

void PreviewPanel::start(const ProjectSettings& settings) {
    clear();
    m_preview = std::make_unique<PlanPreview>(settings);
    // Received on this thread; dropped with the preview when it is cleared first.
    connect(m_preview.get(), &QThread::finished, m_preview.get(), [this] { previewEnded(); });
    lPreviewCounts->setText(QStringLiteral("Previewing: connecting..."));
    m_progressTimer->start();
    m_preview->start();
    showButtons();
    Q_EMIT previewShown(true);
}

void PreviewPanel::cancel() {
    if (running())
        m_preview->requestStop();
}

void PreviewPanel::cancelThen(std::function<void()> then) {
    m_afterEnd = std::move(then);
    if (running()) {
        lPreviewCounts->setText(QStringLiteral("Stopping the preview..."));
        m_preview->requestStop();
        return;
    }
    QMetaObject::invokeMethod(this, std::exchange(m_afterEnd, {}), Qt::QueuedConnection);
}

void PreviewPanel::previewEnded() {
    if (!m_preview || m_progressTimer->isActive() == false)
        return; // already shown
    m_progressTimer->stop();
    m_preview->wait();
    showResult();
    showButtons();
    if (m_afterEnd)
        QMetaObject::invokeMethod(this, std::exchange(m_afterEnd, {}), Qt::QueuedConnection);
}

void PreviewPanel::showProgress() {
    if (m_preview)
        lPreviewCounts->setText(QStringLiteral("Previewing: ") +
                                engine::describeProgress(m_preview->progress().snapshot()));
}

void PreviewPanel::showButtons() {
    SetControlEnabled(bPreview, !running());
    SetControlEnabled(bCancelPreview, running());
}

void PreviewPanel::showResult() {
    const PreviewResult& result = m_preview->result();
    const RunOutcome& outcome = result.outcome;
    // Only a whole plan says how many files a run would delete.
    const bool whole = outcome.completed && !outcome.stopped && result.error.isEmpty();
    if (whole)
        m_deletions = result.deletions();
    // How the dry run ended, when it did not end as planned, heads its lines.
    QStringList notes = result.notes;
    if (!result.error.isEmpty())
        notes.prepend(QStringLiteral("The preview has stopped by an error: %1").arg(result.error));
    else if (outcome.stopped)
        notes.prepend(QStringLiteral("The preview has been cancelled: what it found so far is shown."));
    lPreviewCounts->setText(whole || outcome.stopped ? countsText(result)
                                                     : QStringLiteral("No preview: see the lines below."));
    QPalette palette = lPreviewCounts->palette();
    if (result.deletions() > 0)
        palette.setColor(QPalette::WindowText, DeletionColour);
    lPreviewCounts->setPalette(palette);

    const QIcon deletionIcon = style()->standardIcon(QStyle::SP_TrashIcon).isNull()
                                   ? style()->standardIcon(QStyle::SP_MessageBoxWarning)
                                   : style()->standardIcon(QStyle::SP_TrashIcon);
    const int actions = int(result.actions.size());
    tvPreview->setRowCount(actions + int(notes.size()));
    for (int row = 0; row < actions; ++row) {
        const PreviewAction& action = result.actions[size_t(row)];
        const bool deletion = action.isDeletion();
        auto* kind = newCell(actionText(action.action), deletion);
        if (deletion)
            kind->setIcon(deletionIcon);
        kind->setToolTip(action.line);
        tvPreview->setItem(row, ActionColumn, kind);
        // Escaped as the log escapes it: a name is the server's or the disk's text.
        tvPreview->setItem(row, FileColumn, newCell(escapedForLog(action.file), deletion));
        tvPreview->setItem(row, ReasonColumn, newCell(reasonText(action.reason), deletion));
        auto* size = newCell(deletion ? QString() : engine::formatBytes(action.bytes), deletion);
        size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        tvPreview->setItem(row, SizeColumn, size);
    }
    // Sized by the files' rows alone: the lines below span the whole row.
    tvPreview->resizeColumnToContents(ActionColumn);
    tvPreview->resizeColumnToContents(SizeColumn);
    // The scan's own lines (a folder it could not list, a name it skipped)
    // across the whole row, after the files.
    const QIcon noteIcon = style()->standardIcon(QStyle::SP_MessageBoxInformation);
    for (int note = 0; note < int(notes.size()); ++note) {
        const int row = actions + note;
        auto* line = newCell(notes[note], false);
        line->setIcon(noteIcon);
        line->setToolTip(notes[note]);
        line->setData(NoteRole, true);
        QFont font = line->font();
        font.setItalic(true);
        line->setFont(font);
        tvPreview->setItem(row, ActionColumn, line);
        tvPreview->setSpan(row, ActionColumn, 1, ColumnCount);
    }
    tvPreview->show();
}

} // namespace wizard
