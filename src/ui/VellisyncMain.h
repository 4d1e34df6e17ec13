#pragma once

#include <QMessageBox>
#include <QUrl>
#include <QWidget>

#include <array>

class QFrame;
class QLabel;
class QListWidgetItem;
class QPushButton;
class QStackedWidget;
class TFTPSyncThread;
class TVellisyncProject;

namespace wizard {
class FoldersPage;
class RunPage;
class WelcomePage;
class WizardPage;
} // namespace wizard

// The wizard window: the frame (header, page control, footer) around seven
// pages that edit the program's one project (CurrentProject) and, on the
// last page, run it with a live log. The window holds the page order and the
// handlers the design names; each page is a class of its own (ui/pages) that
// the window asks to enter and to leave. Controls carry their names as object
// names.
class TVellisyncMain : public QWidget {
    Q_OBJECT
public:
    explicit TVellisyncMain(QWidget* parent = nullptr);
    ~TVellisyncMain() override;

    enum Page { WelcomePage, ServerPage, ProxyPage, FoldersPage, MasksPage, ReviewPage, GoPage, PageCount };

    // --- Form and page navigation -------------------------------------------

    // First show: page 0, header texts, the caption completed with the version.
    void FormShow();
    // The leave rule of the current page; false refuses the change. A page
    // left with Next fills the page after it from the project.
    bool PageControl1Changing();
    // After a page change: header texts of the new page, then UpdatePage.
    void PageControl1Change();
    void bNextClick();
    void bBackClick();
    void bCloseClick();
    void rbClick();
    void cbAnonimClick();
    void rgUsingProxyClick();
    void rgModeClick();
    void Button6Click();
    // UpdateButtons, then the entry action (the enabling rule) of the current page.
    void UpdatePage();
    // Back enabling and the caption of Next.
    void UpdateButtons();
    // Enables or disables a control with visual feedback (ui/pages/Controls.h).
    static void SetControlEnabled(QWidget* control, bool enabled);
    // Modal questions captioned "Confirmation"; No, resp. Cancel, is the default.
    bool ConfirmYesNo(const QString& text);
    QMessageBox::StandardButton ConfirmYesNoCancel(const QString& text);

    // --- Project list page ----------------------------------------------------

    // Rebuilds lvProjects from the project files in the projects folder.
    void FillProjectList();
    void bEditCaptionClick();
    // An in-place caption edit was confirmed with text; text may be changed to
    // what the item is to show.
    void lvProjectsEdited(QListWidgetItem* item, QString& text);
    void bRemoveProjectClick();

    // --- Run page -------------------------------------------------------------

    void StartRun();
    void SyncThreadTerminated(TFTPSyncThread& sender);
    void bStopClick();
    void bSaveLogClick();
    void bSaveProjectClick();
    // True when the caller may go on (the project is unmodified, saved, or the
    // user declined to save).
    bool QuerySaveChanges();
    // Saves CurrentProject to its file, or to a new file after asking for a caption.
    void SaveProject();
    // The may-close answer asked before the window closes.
    bool FormCloseQuery();
    void Panel7Click();
    void Panel7MouseDown();
    void Panel7MouseUp();

    // True from StartRun until SyncThreadTerminated.
    bool runActive() const;
    // The project object held by a list item (null for a foreign item).
    static TVellisyncProject* itemProject(const QListWidgetItem* item);
    // Where the bundled user guide is found, or an empty URL when it is missing.
    static QUrl userGuideUrl();

    bool MovingForward = false;

    // Header and footer.
    QFrame* Panel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* Label1 = nullptr;
    QFrame* Bevel2 = nullptr;
    QFrame* Panel2 = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* bBack = nullptr;
    QPushButton* bNext = nullptr;
    QPushButton* bClose = nullptr;
    QStackedWidget* PageControl1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* createHeader();
    QWidget* createFooter();
    void createPages();
    void connectHandlers();
    void fixWindowSize();
    wizard::WizardPage* currentPage() const;
    void selectPage(int index);
    void waitForRunEnd();

    std::array<wizard::WizardPage*, PageCount> m_pages{};
    wizard::WelcomePage* m_welcomePage = nullptr;
    wizard::FoldersPage* m_foldersPage = nullptr;
    wizard::RunPage* m_runPage = nullptr;
    bool m_shown = false;
    bool m_closeConfirmed = false;
};
