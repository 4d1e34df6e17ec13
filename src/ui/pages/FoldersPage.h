#pragma once

#include "ui/pages/WizardPage.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace wizard {

// Page 3: the two folders, the direction, subfolders, exact copy and what a
// two-way run does with a file changed on both sides.
class FoldersPage : public WizardPage {
    Q_OBJECT
public:
    explicit FoldersPage(TVellisyncMain& window);

    void Fill(const TVellisyncProject& project) override;
    // "Exact Copy" is enabled for the one-way modes only, the conflict choice
    // for both ways only; disabled, each keeps its state.
    void Enter() override;
    // With Next: both folders must be named.
    bool Leave(bool movingForward) override;
    // Browses for the local folder.
    void BrowseLocalFolder();

    QLineEdit* eRemote = nullptr;
    QLineEdit* eLocal = nullptr;
    QPushButton* Button6 = nullptr;
    QGroupBox* rgMode = nullptr;
    QCheckBox* cbSubfolders = nullptr;
    QCheckBox* cbExact = nullptr;
    QGroupBox* rgConflicts = nullptr;

private:
    // Stores the conflict choice, as the project means it.
    void storeConflicts(TVellisyncProject& project) const;

    QButtonGroup* m_modeItems = nullptr;
    QButtonGroup* m_conflictItems = nullptr;
};

} // namespace wizard
