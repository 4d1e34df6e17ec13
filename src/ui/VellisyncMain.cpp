#include "ui/CertificateTrust.h"
#include "ui/VellisyncMain.h"

#include <algorithm>
#include <array>

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "model/Global.h"
#include "project/CurrentProject.h"
#include "project/VellisyncProject.h"
#include "ui/ErrorHandler.h"
#include "ui/UiPrompts.h"
#include "ui/pages/Controls.h"
#include "ui/pages/FoldersPage.h"
#include "ui/pages/MasksPage.h"
#include "ui/pages/ProxyPage.h"
#include "ui/pages/RunPage.h"
#include "ui/pages/ServerPage.h"
#include "ui/pages/WelcomePage.h"

namespace {

const std::array<QString, TVellisyncMain::PageCount> PageTitles = {
    QStringLiteral("1. Welcome to Vellisync."),
    QStringLiteral("2. Connection."),
    QStringLiteral("3. Proxy settings"),
    QStringLiteral("4. Folders."),
    QStringLiteral("5. File masks."),
    QStringLiteral("6. Check settings."),
    QStringLiteral("7. Finishing."),
};

const std::array<QString, TVellisyncMain::PageCount> PageDescriptions = {
    QStringLiteral("Please, choose the existing project or create new project."),
    QStringLiteral("Fill in the connection parameters of your FTP server."),
    QStringLiteral("Specify here the proxy settings you use."),
    QStringLiteral("Here you have to specify remote and local folders, synchronization mode."),
    QStringLiteral("Set up, please, file masks you want to synchronize. If you specify a few masks then they must "
                   "be separated by commas."),
    QStringLiteral("Check the project settings, please, and press \"Go\" button to execute. If you want to do some "
                   "changes, press \"Back\" button."),
    QStringLiteral("After finishing of the project you may save the log file as a text. Save your current project "
                   "for next sessions."),
};

const QString ConfirmationTitle = QStringLiteral("Confirmation");

// The client area of the window at 96 dots per inch with an 8-point font; the
// window keeps these proportions and grows with the desktop's font.
constexpr int BaseWidth = 542;
constexpr int BaseHeight = 378;
constexpr int BaseFontHeight = 13;

QPixmap headerPicture() {
    QPixmap picture(BaseWidth, 53);
    QPainter painter(&picture);
    QLinearGradient gradient(0, 0, picture.width(), 0);
    gradient.setColorAt(0.0, QColor(0xff, 0xff, 0xff));
    gradient.setColorAt(0.65, QColor(0xf2, 0xf6, 0xfb));
    gradient.setColorAt(1.0, QColor(0xc9, 0xda, 0xee));
    painter.fillRect(picture.rect(), gradient);
    return picture;
}

} // namespace

// --- Construction -------------------------------------------------------------

TVellisyncMain::TVellisyncMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("VellisyncMain"));
    setWindowTitle(QStringLiteral("Vellisync"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(createHeader());
    PageControl1 = new QStackedWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    layout->addWidget(PageControl1, 1);
    layout->addWidget(createFooter());
    createPages();
    connectHandlers();
    fixWindowSize();
}

TVellisyncMain::~TVellisyncMain() {
    // A run still going when the window goes (the program is ending some other
    // way than through Close) must not outlive its log and end handler.
    if (runActive()) {
        CurrentProject->RequestStop();
        waitForRunEnd();
    }
}

QWidget* TVellisyncMain::createHeader() {
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* stack = new QGridLayout(Panel1);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(headerPicture());
    Image1->setScaledContents(true);
    Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    stack->addWidget(Image1, 0, 0);

    auto* texts = new QVBoxLayout;
    texts->setContentsMargins(12, 8, 9, 6);
    texts->setSpacing(2);
    Label13 = wizard::newHeadingLabel(PageTitles[0], Panel1);
    Label13->setObjectName(QStringLiteral("Label13"));
    Label1 = new QLabel(PageDescriptions[0], Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setContentsMargins(16, 0, 0, 0);
    // Room for two lines of the longest description, so the header never jumps.
    Label1->setMinimumHeight(2 * Label1->fontMetrics().lineSpacing());
    texts->addWidget(Label13);
    texts->addWidget(Label1);
    for (QLabel* label : {Label13, Label1}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
    }
    stack->addLayout(texts, 0, 0);

    Bevel2 = new QFrame(Panel1);
    Bevel2->setObjectName(QStringLiteral("Bevel2"));
    Bevel2->setFrameShape(QFrame::HLine);
    Bevel2->setFrameShadow(QFrame::Sunken);
    stack->addWidget(Bevel2, 1, 0);
    return Panel1;
}

QWidget* TVellisyncMain::createFooter() {
    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto* layout = new QVBoxLayout(Panel2);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Bevel1 = new QFrame(Panel2);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    layout->addWidget(Bevel1);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(9, 12, 12, 12);
    bBack = new QPushButton(QStringLiteral("<< Back"), Panel2);
    bBack->setObjectName(QStringLiteral("bBack"));
    bNext = new QPushButton(QStringLiteral("Next >>"), Panel2);
    bNext->setObjectName(QStringLiteral("bNext"));
    bNext->setDefault(true);
    bClose = new QPushButton(QStringLiteral("Close"), Panel2);
    bClose->setObjectName(QStringLiteral("bClose"));
    buttons->addStretch(1);
    buttons->addWidget(bBack);
    buttons->addWidget(bNext);
    buttons->addSpacing(24);
    buttons->addWidget(bClose);
    layout->addLayout(buttons);
    return Panel2;
}

void TVellisyncMain::createPages() {
    m_welcomePage = new wizard::WelcomePage(*this);
    m_foldersPage = new wizard::FoldersPage(*this);
    m_runPage = new wizard::RunPage(*this);
    m_pages = {m_welcomePage, new wizard::ServerPage(*this), new wizard::ProxyPage(*this),
               m_foldersPage, new wizard::MasksPage(*this),  new wizard::ReviewPage(*this),
               m_runPage};
    for (wizard::WizardPage* page : m_pages)
        PageControl1->addWidget(page);
}

void TVellisyncMain::connectHandlers() {
    connect(bNext, &QPushButton::clicked, this, guarded([this] { bNextClick(); }));
    connect(bBack, &QPushButton::clicked, this, guarded([this] { bBackClick(); }));
    connect(bClose, &QPushButton::clicked, this, guarded([this] { bCloseClick(); }));
}

// Fixed size with the proportions of the original 542 by 378 layout, grown
// with the desktop's font and never smaller than what the layouts need.
void TVellisyncMain::fixWindowSize() {
    const qreal scale = std::max<qreal>(1.0, qreal(fontMetrics().height()) / BaseFontHeight);
    QSize size(qRound(BaseWidth * scale), qRound(BaseHeight * scale));
    size = size.expandedTo(minimumSizeHint());
    setFixedSize(size);
}

// --- Events ---------------------------------------------------------------------

void TVellisyncMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    runGuarded([this] { FormShow(); });
}

void TVellisyncMain::closeEvent(QCloseEvent* event) {
    bool mayClose = m_closeConfirmed;
    if (!mayClose)
        runGuarded([&] { mayClose = FormCloseQuery(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    m_closeConfirmed = true;
    if (runActive()) {
        // The run finishes the file in hand and closes its connection; the
        // window stays, showing the last lines, and closes when the run has
        // ended (SyncThreadTerminated).
        CurrentProject->RequestStop();
        event->ignore();
        return;
    }
    event->accept();
}

void TVellisyncMain::keyPressEvent(QKeyEvent* event) {
    // Next is the window's default button: Enter that no control took presses it.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        if (bNext->isEnabled())
            bNext->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

// --- Form and page navigation -------------------------------------------------

void TVellisyncMain::FormShow() {
    PageControl1->setCurrentIndex(WelcomePage);
    Label13->setText(PageTitles[WelcomePage]);
    Label1->setText(PageDescriptions[WelcomePage]);
    setWindowTitle(QStringLiteral("%1 %2").arg(windowTitle(), QStringLiteral(VELLISYNC_VERSION)));
    UpdatePage();
}

void TVellisyncMain::selectPage(int index) {
    if (!PageControl1Changing())
        return;
    PageControl1->setCurrentIndex(index);
    PageControl1Change();
}

void TVellisyncMain::bNextClick() {
    MovingForward = true;
    selectPage((PageControl1->currentIndex() + 1) % PageCount);
}

void TVellisyncMain::bBackClick() {
    MovingForward = false;
    if (PageControl1->currentIndex() > WelcomePage)
        selectPage(PageControl1->currentIndex() - 1);
}

void TVellisyncMain::bCloseClick() {
    close();
}

void TVellisyncMain::rbClick() {
    UpdatePage();
}

void TVellisyncMain::cbAnonimClick() {
    UpdatePage();
}

void TVellisyncMain::rgUsingProxyClick() {
    UpdatePage();
}

void TVellisyncMain::rgModeClick() {
    UpdatePage();
}

void TVellisyncMain::Button6Click() {
    m_foldersPage->BrowseLocalFolder();
}

wizard::WizardPage* TVellisyncMain::currentPage() const {
    return m_pages[size_t(PageControl1->currentIndex())];
}

void TVellisyncMain::PageControl1Change() {
    const int page = PageControl1->currentIndex();
    Label13->setText(PageTitles[page]);
    Label1->setText(PageDescriptions[page]);
    UpdatePage();
}

void TVellisyncMain::UpdateButtons() {
    const int page = PageControl1->currentIndex();
    SetControlEnabled(bBack, page != WelcomePage && page != GoPage);
    if (page == ReviewPage)
        bNext->setText(QStringLiteral("Go!"));
    else if (page == GoPage)
        bNext->setText(QStringLiteral("Begin >>"));
    else
        bNext->setText(QStringLiteral("Next >>"));
}

void TVellisyncMain::UpdatePage() {
    UpdateButtons();
    currentPage()->Enter();
}

bool TVellisyncMain::PageControl1Changing() {
    const int page = PageControl1->currentIndex();
    if (!currentPage()->Leave(MovingForward))
        return false;
    // The controls of a page are filled when the page before it is left with
    // Next, so what Back dropped comes back from the project.
    if (MovingForward && page + 1 < PageCount)
        m_pages[size_t(page + 1)]->Fill(*CurrentProject);
    return true;
}

void TVellisyncMain::SetControlEnabled(QWidget* control, bool enabled) {
    wizard::SetControlEnabled(control, enabled);
}

bool TVellisyncMain::ConfirmYesNo(const QString& text) {
    return uiPrompts().question(this, ConfirmationTitle, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

QMessageBox::StandardButton TVellisyncMain::ConfirmYesNoCancel(const QString& text) {
    const QMessageBox::StandardButton answer = uiPrompts().question(
        this, ConfirmationTitle, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer == QMessageBox::Yes || answer == QMessageBox::No)
        return answer;
    return QMessageBox::Cancel;
}

// --- Project list page ----------------------------------------------------------

TVellisyncProject* TVellisyncMain::itemProject(const QListWidgetItem* item) {
    return wizard::WelcomePage::ItemProject(item);
}

void TVellisyncMain::FillProjectList() {
    m_welcomePage->FillProjectList();
}

void TVellisyncMain::bEditCaptionClick() {
    m_welcomePage->EditCaptionClick();
}

void TVellisyncMain::lvProjectsEdited(QListWidgetItem* item, QString& text) {
    m_welcomePage->ProjectsEdited(item, text);
}

void TVellisyncMain::bRemoveProjectClick() {
    m_welcomePage->RemoveProjectClick();
}

// --- Run page -------------------------------------------------------------------

bool TVellisyncMain::runActive() const {
    return m_runPage->RunActive();
}

void TVellisyncMain::StartRun() {
    m_runPage->StartRun();
}

void TVellisyncMain::SyncThreadTerminated(TFTPSyncThread&) {
    m_runPage->RunEnded();
    if (m_closeConfirmed) {
        // The close that waited for the run goes on once the thread object
        // has let go of the project and been deleted.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    } else if (offerToTrustCertificate(this, *CurrentProject)) {
        // Again once the thread object of this run is gone.
        QMetaObject::invokeMethod(
            this, [this] { StartRun(); }, Qt::QueuedConnection);
    }
}

void TVellisyncMain::waitForRunEnd() {
    while (runActive())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 100);
}

void TVellisyncMain::bStopClick() {
    m_runPage->Stop();
}

void TVellisyncMain::bSaveLogClick() {
    m_runPage->SaveLog();
}

void TVellisyncMain::bSaveProjectClick() {
    SaveProject();
}

bool TVellisyncMain::QuerySaveChanges() {
    return m_runPage->QuerySaveChanges();
}

void TVellisyncMain::SaveProject() {
    m_runPage->SaveProject();
}

bool TVellisyncMain::FormCloseQuery() {
    return QuerySaveChanges();
}

void TVellisyncMain::Panel7MouseDown() {
    m_runPage->PromotionPressed();
}

void TVellisyncMain::Panel7MouseUp() {
    m_runPage->PromotionReleased();
}

QUrl TVellisyncMain::userGuideUrl() {
    return wizard::RunPage::UserGuideUrl();
}

void TVellisyncMain::Panel7Click() {
    m_runPage->OpenUserGuide();
}
