#pragma once

#include "ui/pages/WizardPage.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace wizard {

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

    // Shows the project's review text and the state of its folders as they are now.
    void Enter() override;
    // After a confirmation, drops the sync state so that the next run is a first run.
    void ForgetState();

    QPlainTextEdit* mReview = nullptr;
    QLabel* lSyncState = nullptr;
    QPushButton* bForgetState = nullptr;

private:
    void ShowSyncState();
};

} // namespace wizard
