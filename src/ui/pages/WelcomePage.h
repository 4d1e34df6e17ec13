#pragma once

#include "ui/pages/WizardPage.h"

class QFrame;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;

namespace wizard {

// Page 0: a new project, or one of the stored projects, listed by caption,
// renamed in place or removed.
class WelcomePage : public WizardPage {
    Q_OBJECT
public:
    explicit WelcomePage(TVellisyncMain& window);

    // Enables the list with "Open existing project", then refills it.
    void Enter() override;
    // Gives the project the defaults or loads the selected file; refuses
    // without a word when there is nothing to open.
    bool Leave(bool movingForward) override;

    // Rebuilds lvProjects from the project files in the projects folder.
    void FillProjectList();
    void EditCaptionClick();
    // An in-place caption edit was confirmed with text; text may be changed to
    // what the item is to show.
    void ProjectsEdited(QListWidgetItem* item, QString& text);
    void RemoveProjectClick();
    // The project object held by a list item (null for a foreign item).
    static TVellisyncProject* ItemProject(const QListWidgetItem* item);

    QRadioButton* rbNewProject = nullptr;
    QRadioButton* rbOpenExisting = nullptr;
    QListWidget* lvProjects = nullptr;
    QFrame* Panel4 = nullptr;
    QPushButton* bEditCaption = nullptr;
    QPushButton* bRemoveProject = nullptr;

private:
    void ConnectHandlers();
};

} // namespace wizard
