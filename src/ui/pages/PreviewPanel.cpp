#include "ui/pages/PreviewPanel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

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

// "3 to upload, 1 to download, 7 to delete (marked)": the line above the table.
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
    QString text = QStringLiteral("%1 to upload, %2 to download, ").arg(filesText(uploads), filesText(downloads));
    return text + (deletions > 0 ? QStringLiteral("%1 to DELETE (marked below).").arg(filesText(deletions))
                                 : QStringLiteral("nothing to delete."));
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
    lPreviewStatus = new QLabel(this);
    lPreviewStatus->setObjectName(QStringLiteral("lPreviewStatus"));
    lPreviewStatus->setTextFormat(Qt::PlainText);
    // A long line must not widen the fixed window.
    lPreviewStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    buttons->addWidget(bPreview);
    buttons->addWidget(bCancelPreview);
    buttons->addWidget(lPreviewStatus, 1);
    layout->addLayout(buttons);

    lPreviewCounts = new QLabel(this);
    lPreviewCounts->setObjectName(QStringLiteral("lPreviewCounts"));
    lPreviewCounts->setTextFormat(Qt::PlainText);
    lPreviewCounts->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(lPreviewCounts);

    tvPreview = new QTableWidget(0, ColumnCount, this);
    tvPreview->setObjectName(QStringLiteral("tvPreview"));
    tvPreview->setHorizontalHeaderLabels(
        {QStringLiteral("Action"), QStringLiteral("File"), QStringLiteral("Reason"), QStringLiteral("Size")});
    tvPreview->verticalHeader()->hide();
    tvPreview->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvPreview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvPreview->setWordWrap(false);
    tvPreview->horizontalHeader()->setSectionResizeMode(FileColumn, QHeaderView::Stretch);
    layout->addWidget(tvPreview, 1);

    lvPreviewNotes = new QListWidget(this);
    lvPreviewNotes->setObjectName(QStringLiteral("lvPreviewNotes"));
    lvPreviewNotes->setMaximumHeight(4 * fontMetrics().height() + 8);
    layout->addWidget(lvPreviewNotes);

    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(ProgressIntervalMs);
    connect(m_progressTimer, &QTimer::timeout, this, [this] { showProgress(); });
    connect(bPreview, &QPushButton::clicked, this, guarded([this] { Q_EMIT previewRequested(); }));
    connect(bCancelPreview, &QPushButton::clicked, this, guarded([this] {
                if (m_preview)
                    m_preview->requestStop();
            }));
    clear();
}

PreviewPanel::~PreviewPanel() = default;

bool PreviewPanel::running() const {
    return m_preview && !m_preview->isFinished();
}

void PreviewPanel::clear() {
    m_progressTimer->stop();
    m_preview.reset(); // stops the dry run and waits for it
    m_deletions.reset();
    lPreviewStatus->clear();
    lPreviewCounts->clear();
    tvPreview->setRowCount(0);
    lvPreviewNotes->clear();
    for (QWidget* part : std::initializer_list<QWidget*>{lPreviewCounts, tvPreview, lvPreviewNotes})
        part->hide();
    showButtons();
}

void PreviewPanel::start(const ProjectSettings& settings) {
    clear();
    m_preview = std::make_unique<PlanPreview>(settings);
    // Received on this thread; dropped with the preview when it is cleared first.
    connect(m_preview.get(), &QThread::finished, m_preview.get(), [this] { previewEnded(); });
    lPreviewStatus->setText(QStringLiteral("Previewing: connecting..."));
    m_progressTimer->start();
    m_preview->start();
    showButtons();
}

void PreviewPanel::stop() {
    if (!running())
        return;
    m_preview->requestStop();
    m_preview->wait();
    previewEnded();
}

void PreviewPanel::previewEnded() {
    if (!m_preview || m_progressTimer->isActive() == false)
        return; // already shown
    m_progressTimer->stop();
    m_preview->wait();
    showResult();
    showButtons();
}

void PreviewPanel::showProgress() {
    if (m_preview)
        lPreviewStatus->setText(QStringLiteral("Previewing: ") +
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
    if (!result.error.isEmpty())
        lPreviewStatus->setText(QStringLiteral("The preview has stopped by an error: %1").arg(result.error));
    else if (outcome.stopped)
        lPreviewStatus->setText(QStringLiteral("The preview has been cancelled: what it found so far is shown."));
    else if (!outcome.notStarted.isEmpty() || !outcome.connected)
        lPreviewStatus->setText(QStringLiteral("No preview: see the lines below."));
    else
        lPreviewStatus->setText(QStringLiteral("Preview: nothing has been changed on either side."));
    lPreviewCounts->setText(countsText(result));
    QPalette palette = lPreviewCounts->palette();
    if (result.deletions() > 0)
        palette.setColor(QPalette::WindowText, DeletionColour);
    lPreviewCounts->setPalette(palette);

    const QIcon deletionIcon = style()->standardIcon(QStyle::SP_TrashIcon).isNull()
                                   ? style()->standardIcon(QStyle::SP_MessageBoxWarning)
                                   : style()->standardIcon(QStyle::SP_TrashIcon);
    tvPreview->setRowCount(int(result.actions.size()));
    for (int row = 0; row < int(result.actions.size()); ++row) {
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
    tvPreview->resizeColumnToContents(ActionColumn);
    tvPreview->resizeColumnToContents(SizeColumn);
    lvPreviewNotes->clear();
    lvPreviewNotes->addItems(result.notes);
    lPreviewCounts->show();
    tvPreview->show();
    lvPreviewNotes->setVisible(!result.notes.isEmpty());
}

} // namespace wizard
