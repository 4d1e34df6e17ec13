#pragma once

#include "ui/pages/WizardPage.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace wizard {

// Page 3: the two folders, the direction, subfolders and exact copy.
class FoldersPage : public WizardPage {
    Q_OBJECT
public:
    explicit FoldersPage(TVellisyncMain& window);

    void Fill(const TVellisyncProject& project) override;
    // "Exact Copy" is enabled for the one-way modes only; disabled, it keeps its tick.
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

private:
    QButtonGroup* m_modeItems = nullptr;
};

} // namespace wizard
