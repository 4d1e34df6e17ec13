#include "ui/pages/MasksPage.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/Errors.h"
#include "project/VellisyncProject.h"
#include "sync/ProjectState.h"
#include "ui/ErrorHandler.h"
#include "ui/VellisyncMain.h"
#include "ui/pages/Controls.h"
#include "ui/pages/PreviewPanel.h"

namespace wizard {

namespace {

// More planned deletions than this make Go! ask first: a few are routine,
// many more often mean a wrong or emptied folder.
constexpr int DeletionsWithoutQuestion = 5;

// "Sync state: 1,234 files, last complete run 2026-12-08 14:03" in local time,
// or what the next run will do without one.
QString syncStateText(const engine::StateSummary& state) {
    if (!state.exists)
        return QStringLiteral("No sync state yet: the first run compares the times of both sides.");
    if (!state.problem.isEmpty())
        return QStringLiteral("The sync state cannot be read (%1): the next run starts afresh.").arg(state.problem);
    const QString files =
        state.files == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(QLocale().toString(state.files));
    if (!state.lastCompleteRun)
        return QStringLiteral("Sync state: %1, no complete run yet").arg(files);
    return QStringLiteral("Sync state: %1, last complete run %2")
        .arg(files, state.lastCompleteRun->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

} // namespace

MasksPage::MasksPage(TVellisyncMain& window) : WizardPage(QStringLiteral("TabSheet5"), window) {
    auto* layout = new QVBoxLayout(this);
    eIncludeMasks = new QLineEdit(QStringLiteral("*.*"), this);
    eIncludeMasks->setObjectName(QStringLiteral("eIncludeMasks"));
    eExcludeMasks = new QLineEdit(this);
    eExcludeMasks->setObjectName(QStringLiteral("eExcludeMasks"));
    layout->addWidget(newBuddyLabel(QStringLiteral("Include masks (comma separated)"), eIncludeMasks, this));
    layout->addWidget(eIncludeMasks);
    layout->addSpacing(8);
    layout->addWidget(newBuddyLabel(QStringLiteral("Exclude masks (comma separated)"), eExcludeMasks, this));
    layout->addWidget(eExcludeMasks);
    layout->addStretch(1);
}

void MasksPage::Fill(const TVellisyncProject& project) {
    eIncludeMasks->setText(project.IncludeMasks);
    eExcludeMasks->setText(project.ExcludeMasks);
}

bool MasksPage::Leave(bool) {
    currentProject().SetIncludeMasks(eIncludeMasks->text());
    currentProject().SetExcludeMasks(eExcludeMasks->text());
    return true;
}

ReviewPage::ReviewPage(TVellisyncMain& window) : WizardPage(QStringLiteral("TabSheet6"), window) {
    auto* layout = new QVBoxLayout(this);
    mReview = new QPlainTextEdit(this);
    mReview->setObjectName(QStringLiteral("mReview"));
    mReview->setReadOnly(true);
    mReview->setLineWrapMode(QPlainTextEdit::NoWrap);
    mReview->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mReview->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The review reads as part of the page, not as something to edit.
    QPalette palette = mReview->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    mReview->setPalette(palette);
    layout->addWidget(newHeadingLabel(QStringLiteral("Review of the project"), this));
    layout->addWidget(mReview, 1);

    auto* state = new QHBoxLayout;
    lSyncState = new QLabel(this);
    lSyncState->setObjectName(QStringLiteral("lSyncState"));
    lSyncState->setTextFormat(Qt::PlainText);
    // A long reason must not widen the fixed window.
    lSyncState->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bForgetState = new QPushButton(QStringLiteral("Forget"), this);
    bForgetState->setObjectName(QStringLiteral("bForgetState"));
    bForgetState->setToolTip(QStringLiteral("Drop the sync state: the next run compares the times of both sides"));
    state->addWidget(lSyncState, 1);
    state->addWidget(bForgetState);
    layout->addLayout(state);

    m_preview = new PreviewPanel(this);
    layout->addWidget(m_preview);

    connect(bForgetState, &QPushButton::clicked, this, guarded([this] { ForgetState(); }));
    connect(m_preview, &PreviewPanel::previewRequested, this,
            [this] { m_preview->start(currentProject().Settings()); });
    // The fixed window has little room: while a preview shows, the review
    // keeps a few lines and its scroll bars.
    connect(m_preview, &PreviewPanel::previewShown, this, [this, layout](bool shown) {
        mReview->setMaximumHeight(shown ? 4 * mReview->fontMetrics().height() + 16 : QWIDGETSIZE_MAX);
        layout->setStretchFactor(m_preview, shown ? 2 : 0);
    });
}

void ReviewPage::Enter() {
    mReview->setPlainText(currentProject().GetReviewText());
    ShowSyncState();
    // Enter runs again when a control of the page asks for it; only other
    // settings make the preview stale.
    if (m_previewedSettings != currentProject().Settings())
        m_preview->clear();
    m_previewedSettings = currentProject().Settings();
}

bool ReviewPage::Leave(bool movingForward) {
    if (!movingForward) {
        m_preview->cancel();
        return true;
    }
    // The real run must not meet the dry run on its pair of folders: Go!
    // comes again once the dry run has let go of them.
    if (m_preview->running()) {
        m_preview->cancelThen([this] { m_window.bNext->click(); });
        return false;
    }
    const std::optional<int> deletions = m_preview->plannedDeletions();
    if (!deletions || *deletions <= DeletionsWithoutQuestion)
        return true;
    return m_window.ConfirmYesNo(
        QStringLiteral("This run will delete %1 files, as the preview shows. Go on?").arg(*deletions));
}

void ReviewPage::ShowSyncState() {
    const engine::StateSummary state = engine::describeState(currentProject());
    lSyncState->setText(syncStateText(state));
    // The line may be cut short: the tooltip keeps the whole of it and where the state lives.
    lSyncState->setToolTip(lSyncState->text() + QLatin1Char('\n') + QDir::toNativeSeparators(state.path));
    SetControlEnabled(bForgetState, state.exists);
}

void ReviewPage::ForgetState() {
    if (!m_window.ConfirmYesNo(QStringLiteral("Forget the sync state of this project?\nIts next run compares the "
                                              "times of both sides, as a first run does.")))
        return;
    const QString refusal = engine::forgetState(currentProject());
    // Without its state a run decides otherwise: the preview no longer holds.
    m_preview->clear();
    ShowSyncState();
    if (!refusal.isEmpty())
        throw VellisyncError(refusal);
}

} // namespace wizard
