#pragma once

#include "model/ProjectSettings.h"
#include "ui/pages/WizardPage.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace wizard {

class PreviewPanel;

// Page 4: include and exclude masks, stored whichever way the page is left.
class MasksPage : public WizardPage {
    Q_OBJECT
public:
    explicit MasksPage(TVellisyncMain& window);

    void Fill(const TVellisyncProject& project) override;
    bool Leave(bool movingForward) override;

    QLineEdit* eIncludeMasks = nullptr;
    QLineEdit* eExcludeMasks = nullptr;
};

// Page 5: the project's settings in one text, and whether its runs have a
// sync state to go on, which the user may drop.
class ReviewPage : public WizardPage {
    Q_OBJECT
public:
    explicit ReviewPage(TVellisyncMain& window);

    // Shows the project's review text and the state of its folders as they
    // are now; a preview of other settings is dropped.
    void Enter() override;
    // Going back cancels a preview in progress; going on waits for its end
    // and then asks first when the preview shows that the run would delete
    // many files.
    bool Leave(bool movingForward) override;
    // After a confirmation, drops the sync state so that the next run is a first run.
    void ForgetState();

    QPlainTextEdit* mReview = nullptr;
    QLabel* lSyncState = nullptr;
    QPushButton* bForgetState = nullptr;
    PreviewPanel* m_preview = nullptr;

private:
    void ShowSyncState();

    // The settings of the page's last entry: a preview shown was made of them.
    ProjectSettings m_previewedSettings;
};

} // namespace wizard
