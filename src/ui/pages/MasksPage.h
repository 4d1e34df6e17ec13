#pragma once

#include "ui/pages/WizardPage.h"

class QLineEdit;
class QPlainTextEdit;

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

// Page 5: the project's settings in one text.
class ReviewPage : public WizardPage {
    Q_OBJECT
public:
    explicit ReviewPage(TVellisyncMain& window);

    // Shows the project's review text.
    void Enter() override;

    QPlainTextEdit* mReview = nullptr;
};

} // namespace wizard
