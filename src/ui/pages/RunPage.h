#pragma once

#include <QPointer>
#include <QUrl>

#include <memory>

#include "ui/pages/WizardPage.h"

class LineSink;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TFTPSyncThread;

namespace wizard {

// Page 6: runs the project on arrival with its live log and its progress,
// saves the log and the project, and asks to save a modified project.
class RunPage : public WizardPage {
    Q_OBJECT
public:
    explicit RunPage(TVellisyncMain& window);
    ~RunPage() override;

    // Starts the run.
    void Enter() override;
    // Allowed when the save question lets the caller go on.
    bool Leave(bool movingForward) override;

    // Clears the log and the progress, disables what waits for the run's end
    // and starts the run on its worker thread.
    void StartRun();
    // The run has ended: the buttons come back and the progress shows the
    // final counts.
    void RunEnded();
    void Stop();
    void SaveLog();
    // True when the caller may go on (the project is unmodified, saved, or the
    // user declined to save).
    bool QuerySaveChanges();
    // Saves CurrentProject to its file, or to a new file after asking for a caption.
    void SaveProject();
    void PromotionPressed();
    void PromotionReleased();
    void OpenUserGuide();
    bool RunActive() const { return m_runActive; }
    // Where the bundled user guide is found, or an empty URL when it is missing.
    static QUrl UserGuideUrl();

    QPlainTextEdit* Memo2 = nullptr;
    QProgressBar* pbProgress = nullptr;
    QLabel* lProgress = nullptr;
    QPushButton* bStop = nullptr;
    QPushButton* bSaveLog = nullptr;
    QPushButton* bSaveProject = nullptr;
    QFrame* Panel7 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* CreatePromotion();
    // Shows the run's progress counts as they are now.
    void ShowProgress();

    std::unique_ptr<LineSink> m_logSink;
    QTimer* m_progressTimer = nullptr;
    bool m_runActive = false;
};

} // namespace wizard
