#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class LineSink;
class TFTPSyncThread;
class TVellisyncProject;

// The wizard window: seven pages that edit the program's one project
// (CurrentProject) and, on the last page, run it with a live log. Controls
// carry their names as object names; handlers carry the names the design
// gives them.
class TVellisyncMain : public QWidget {
    Q_OBJECT
public:
    explicit TVellisyncMain(QWidget* parent = nullptr);
    ~TVellisyncMain() override;

    enum Page { WelcomePage, ServerPage, ProxyPage, FoldersPage, MasksPage, ReviewPage, GoPage, PageCount };

    // --- Form and page navigation -------------------------------------------

    // First show: page 0, header texts, the caption completed with the version.
    void FormShow();
    // The leave rule of the current page; false refuses the change.
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
    // Enables or disables a control with visual feedback: edits and lists get
    // the window or the button-face background; panels pass it to their children.
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
    bool runActive() const { return m_runActive; }
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
    // Page 0.
    QRadioButton* rbNewProject = nullptr;
    QRadioButton* rbOpenExisting = nullptr;
    QListWidget* lvProjects = nullptr;
    QFrame* Panel4 = nullptr;
    QPushButton* bEditCaption = nullptr;
    QPushButton* bRemoveProject = nullptr;
    // Page 1.
    QLineEdit* eHost = nullptr;
    QLineEdit* ePort = nullptr;
    QSpinBox* udPort = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* cbAnonim = nullptr;
    QLineEdit* eUserName = nullptr;
    QLineEdit* ePassword = nullptr;
    QCheckBox* cbPassive = nullptr;
    QLineEdit* eConnections = nullptr;
    QSpinBox* udConnections = nullptr;
    QComboBox* cbEncryption = nullptr;
    // Page 2.
    QGroupBox* rgUsingProxy = nullptr;
    QGroupBox* gbProxySettings = nullptr;
    QRadioButton* rbFTP = nullptr;
    QRadioButton* rbSocks = nullptr;
    QLineEdit* eProxyHost = nullptr;
    QLineEdit* eProxyPort = nullptr;
    QSpinBox* udProxyPort = nullptr;
    // Page 3.
    QLineEdit* eRemote = nullptr;
    QLineEdit* eLocal = nullptr;
    QPushButton* Button6 = nullptr;
    QGroupBox* rgMode = nullptr;
    QCheckBox* cbSubfolders = nullptr;
    QCheckBox* cbExact = nullptr;
    // Page 4.
    QLineEdit* eIncludeMasks = nullptr;
    QLineEdit* eExcludeMasks = nullptr;
    // Page 5.
    QPlainTextEdit* mReview = nullptr;
    // Page 6.
    QPlainTextEdit* Memo2 = nullptr;
    QPushButton* bStop = nullptr;
    QPushButton* bSaveLog = nullptr;
    QPushButton* bSaveProject = nullptr;
    QFrame* Panel7 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* createHeader();
    QWidget* createFooter();
    QWidget* createWelcomePage();
    QWidget* createServerPage();
    QWidget* createProxyPage();
    QWidget* createFoldersPage();
    QWidget* createMasksPage();
    QWidget* createReviewPage();
    QWidget* createGoPage();
    void connectHandlers();
    void fixWindowSize();

    void selectPage(int index);
    bool refuseWithSound(QLineEdit* edit);
    void fillServerPage();
    void fillProxyPage();
    void fillFoldersPage();
    void fillMasksPage();
    void storeMasks();
    void waitForRunEnd();

    QButtonGroup* m_usingProxyItems = nullptr;
    QButtonGroup* m_modeItems = nullptr;
    std::unique_ptr<LineSink> m_logSink;
    QPointer<TFTPSyncThread> m_syncThread; // observed only, to wait for a run that outlives the window
    QString m_placeholderHost;
    QString m_placeholderPassword;
    bool m_shown = false;
    bool m_runActive = false;
    bool m_closeConfirmed = false;
};
