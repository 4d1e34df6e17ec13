#pragma once

#include <QWidget>

class TVellisyncMain;
class TVellisyncProject;

namespace wizard {

// One page of the wizard. The window holds the frame and the page order and
// asks the current page to enter and to leave; the page fills its controls
// from the project and stores them into it.
class WizardPage : public QWidget {
    Q_OBJECT
public:
    WizardPage(const QString& objectName, TVellisyncMain& window);

    // Fills the controls from the project. Called when the page before this
    // one is left with Next, never when this page is entered, so edits that
    // Back dropped come back from the project.
    virtual void Fill(const TVellisyncProject& project);
    // The entry action, which is also the page's enabling rule: run on every
    // page change, at show and when a control of the page asks for it.
    virtual void Enter();
    // The leave rule: stores what the page stores; false refuses the change.
    virtual bool Leave(bool movingForward);

protected:
    TVellisyncMain& m_window;
};

} // namespace wizard
