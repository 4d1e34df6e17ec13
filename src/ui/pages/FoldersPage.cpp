#include "ui/pages/FoldersPage.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "project/VellisyncProject.h"
#include "ui/ErrorHandler.h"
#include "ui/UiPrompts.h"
#include "ui/VellisyncMain.h"
#include "ui/pages/Controls.h"

namespace wizard {

FoldersPage::FoldersPage(TVellisyncMain& window) : WizardPage(QStringLiteral("TabSheet4"), window) {
    auto* layout = new QVBoxLayout(this);
    auto* folders = new QGridLayout;
    eRemote = new QLineEdit(this);
    eRemote->setObjectName(QStringLiteral("eRemote"));
    eLocal = new QLineEdit(this);
    eLocal->setObjectName(QStringLiteral("eLocal"));
    Button6 = new QPushButton(QStringLiteral("..."), this);
    Button6->setObjectName(QStringLiteral("Button6"));
    Button6->setFixedWidth(Button6->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 20);
    folders->addWidget(newBuddyLabel(QStringLiteral("&Remote Folder:"), eRemote, this), 0, 0, 1, 2);
    folders->addWidget(eRemote, 1, 0, 1, 2);
    folders->addWidget(newBuddyLabel(QStringLiteral("&Local Folder:"), eLocal, this), 2, 0, 1, 2);
    folders->addWidget(eLocal, 3, 0);
    folders->addWidget(Button6, 3, 1);
    layout->addLayout(folders);

    rgMode = newRadioGroup(
        QStringLiteral("rgMode"), QStringLiteral("&Synchronization mode"),
        {QStringLiteral("Local => Remote"), QStringLiteral("Local <= Remote"), QStringLiteral("Local <=> Remote")},
        m_modeItems, this);
    layout->addWidget(rgMode);
    auto* options = new QHBoxLayout;
    cbSubfolders = new QCheckBox(QStringLiteral("Include Subfolders"), this);
    cbSubfolders->setObjectName(QStringLiteral("cbSubfolders"));
    cbExact = new QCheckBox(QStringLiteral("Exact Copy"), this);
    cbExact->setObjectName(QStringLiteral("cbExact"));
    options->addWidget(cbSubfolders);
    options->addWidget(cbExact);
    options->addStretch(1);
    layout->addLayout(options);
    // The items follow the values of setting::Conflicts.
    rgConflicts =
        newRadioGroup(QStringLiteral("rgConflicts"), QStringLiteral("Files &changed on both sides since the last run"),
                      {QStringLiteral("Keep both versions"), QStringLiteral("Skip the file")}, m_conflictItems, this);
    layout->addWidget(rgConflicts);
    layout->addStretch(1);

    connect(m_modeItems, &QButtonGroup::buttonClicked, this, guarded([&window] { window.rgModeClick(); }));
    connect(Button6, &QPushButton::clicked, this, guarded([&window] { window.Button6Click(); }));
}

void FoldersPage::Fill(const TVellisyncProject& project) {
    eRemote->setText(project.RemoteFolder);
    eLocal->setText(project.LocalFolder);
    // A mode past the last item (from a hand-edited file) selects the last item.
    const int lastItem = int(setting::SyncMode::Bidirectional);
    m_modeItems->button(std::min(int(project.SyncMode), lastItem))->setChecked(true);
    cbSubfolders->setChecked(project.SubFilders);
    cbExact->setChecked(project.Exact);
    // An unknown value (a hand-edited file) acts as keeping both, and shows so.
    m_conflictItems->button(project.Conflicts == setting::Conflicts::Skip ? 1 : 0)->setChecked(true);
}

void FoldersPage::Enter() {
    // A disabled Exact Copy keeps its tick; the tick is stored as it is.
    const int mode = m_modeItems->checkedId();
    const bool oneWay = mode == int(setting::SyncMode::LocalToRemote) || mode == int(setting::SyncMode::RemoteToLocal);
    SetControlEnabled(cbExact, oneWay);
    // Only a two-way run meets a file changed on both sides.
    SetControlEnabled(rgConflicts, !oneWay);
}

bool FoldersPage::Leave(bool movingForward) {
    if (!movingForward)
        return true;
    for (QLineEdit* required : {eRemote, eLocal}) {
        if (required->text().isEmpty())
            return refuseWithSound(required);
    }
    TVellisyncProject& project = currentProject();
    project.SetRemoteFolder(eRemote->text());
    project.SetLocalFolder(eLocal->text());
    project.SetSyncMode(setting::SyncMode(std::max(0, m_modeItems->checkedId())));
    project.SetSubFilders(cbSubfolders->isChecked());
    project.SetExact(cbExact->isChecked());
    storeConflicts(project);
    return true;
}

void FoldersPage::storeConflicts(TVellisyncProject& project) const {
    const auto chosen = setting::Conflicts(std::max(0, m_conflictItems->checkedId()));
    // An unknown stored value already means keeping both: it stays as stored
    // unless the other choice is made.
    if ((chosen == setting::Conflicts::Skip) != (project.Conflicts == setting::Conflicts::Skip))
        project.SetConflicts(chosen);
}

void FoldersPage::BrowseLocalFolder() {
    const QString folder = uiPrompts().folder(&m_window, QStringLiteral("Select local folder"), eLocal->text());
    if (!folder.isEmpty())
        eLocal->setText(QDir::toNativeSeparators(folder));
}

} // namespace wizard
