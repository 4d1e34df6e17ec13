#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class PlanPreview;
struct ProjectSettings;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace wizard {

// The review page's preview: a dry run of the project on a thread of its
// own, shown as a table of what the run would do (deletions marked and
// counted in the line above it), the lines worth a look in rows of their own
// at its end. Nothing on either side changes; the page's "Go!" stays one
// click away.
class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    explicit PreviewPanel(QWidget* parent);
    ~PreviewPanel() override;

    // Starts a dry run of these settings, dropping the preview before it.
    void start(const ProjectSettings& settings);
    // Asks the dry run in progress to end; what it found so far is shown
    // once it has.
    void cancel();
    // Cancels the dry run in progress and calls then once it has ended (at
    // once, on this thread's next turn, when none goes): a real run must not
    // meet it on its pair of folders, and the window must not wait for it.
    void cancelThen(std::function<void()> then);
    // Drops the preview (and stops its dry run): the settings may have changed.
    void clear();
    bool running() const;
    // How many files the last finished preview would delete; none while no
    // whole preview is shown.
    std::optional<int> plannedDeletions() const { return m_deletions; }

    QPushButton* bPreview = nullptr;
    QPushButton* bCancelPreview = nullptr;
    // The dry run's progress while it goes, then the counts and how it ended.
    QLabel* lPreviewCounts = nullptr;
    QTableWidget* tvPreview = nullptr;
    // The role that marks a row of the table as a line of the scan's, not a file's action.
    static constexpr int NoteRole = Qt::UserRole + 1;

Q_SIGNALS:
    // Asks the page for the settings to preview (Preview was clicked).
    void previewRequested();
    // A preview has started (true) or been dropped (false): the page makes room for it.
    void previewShown(bool shown);

private:
    void previewEnded();
    void showResult();
    void showButtons();
    void showProgress();

    std::unique_ptr<PlanPreview> m_preview;
    QTimer* m_progressTimer = nullptr;
    std::optional<int> m_deletions;
    std::function<void()> m_afterEnd;
};

} // namespace wizard
