#include "ui/VellisyncMain.h"

#include <algorithm>
#include <array>
#include <functional>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "engine/SyncThread.h"
#include "project/Errors.h"
#include "project/Global.h"
#include "project/UserMessage.h"
#include "project/VellisyncProject.h"
#include "ui/CertificateTrust.h"
#include "ui/EncryptionChoice.h"
#include "ui/ErrorHandler.h"
#include "ui/UiPrompts.h"

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

const QString NoCaption = QStringLiteral("<No Caption>");
const QString PlaceholderProxyHost = QStringLiteral("proxy.example.com");
const QString ConfirmationTitle = QStringLiteral("Confirmation");
const QString UserGuideFile = QStringLiteral("guide.html");
// Marks a group box of exclusive choices, which counts as one control.
constexpr const char* RadioGroupProperty = "vellisyncRadioGroup";

// The client area of the window at 96 dots per inch with an 8-point font; the
// window keeps these proportions and grows with the desktop's font.
constexpr int BaseWidth = 542;
constexpr int BaseHeight = 378;
constexpr int BaseFontHeight = 13;

TVellisyncProject& currentProject() {
    return *CurrentProject;
}

// A list item that owns the project object loaded from its file; the object
// goes with the item, whichever way the item is deleted.
class ProjectItem : public QListWidgetItem {
public:
    static constexpr int Type = QListWidgetItem::UserType + 1;

    explicit ProjectItem(std::unique_ptr<TVellisyncProject> project)
        : QListWidgetItem(project->Caption, nullptr, Type), m_project(std::move(project)) {
        setFlags(flags() | Qt::ItemIsEditable);
    }

    TVellisyncProject* project() const { return m_project.get(); }

    bool operator<(const QListWidgetItem& other) const override {
        // Letter case matters only between captions that are otherwise equal.
        int order = QString::localeAwareCompare(text().toCaseFolded(), other.text().toCaseFolded());
        if (order == 0)
            order = QString::localeAwareCompare(text(), other.text());
        return order < 0;
    }

private:
    std::unique_ptr<TVellisyncProject> m_project;
};

// Hands a confirmed in-place edit to the window instead of writing it into the
// item, so the window decides what the item shows.
class CaptionEditDelegate : public QStyledItemDelegate {
public:
    using EditedHandler = std::function<void(const QModelIndex& index, const QString& text)>;

    CaptionEditDelegate(EditedHandler handler, QObject* parent)
        : QStyledItemDelegate(parent), m_handler(std::move(handler)) {}

    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        if (auto* edit = qobject_cast<QLineEdit*>(editor))
            m_handler(index, edit->text());
    }

private:
    EditedHandler m_handler;
};

// Feeds the run's stamped log lines into the log page.
class MemoLineSink : public LineSink {
public:
    explicit MemoLineSink(QPlainTextEdit* memo) : m_memo(memo) {}

    void AppendLine(const QString& line) override {
        if (m_memo)
            m_memo->appendPlainText(line);
    }

private:
    QPointer<QPlainTextEdit> m_memo;
};

// Ends a batch update of the project list on every way out of the refill.
class ListBatchUpdate {
public:
    explicit ListBatchUpdate(QListWidget* list) : m_list(list) {
        m_list->setUpdatesEnabled(false);
        m_list->setSortingEnabled(false);
    }
    ~ListBatchUpdate() {
        m_list->setSortingEnabled(true);
        m_list->sortItems();
        m_list->setUpdatesEnabled(true);
    }
    ListBatchUpdate(const ListBatchUpdate&) = delete;
    ListBatchUpdate& operator=(const ListBatchUpdate&) = delete;

private:
    QListWidget* m_list;
};

QLabel* newBuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

QSpinBox* newNumberSpinBox(const QString& name, const QString& editName, int minimum, int maximum, int value,
                           QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    spin->setWrapping(false);
    spin->setAlignment(Qt::AlignLeft);
    // The spin box's own edit carries the edit's name, so both can be found.
    if (auto* edit = spin->findChild<QLineEdit*>())
        edit->setObjectName(editName);
    return spin;
}

QSpinBox* newPortSpinBox(const QString& name, const QString& editName, int minimum, QWidget* parent) {
    QSpinBox* spin = newNumberSpinBox(name, editName, minimum, TVellisyncProject::HighestPort, 21, parent);
    spin->setGroupSeparatorShown(true);
    return spin;
}

// Shows a stored number (a port, the connections) in its field. A number
// outside the field's range leaves the field empty rather than clamped, so the
// stored value is never changed behind the user's back and leaving the page
// asks for one.
void showStoredNumber(QSpinBox* field, qint32 number) {
    if (number < field->minimum() || number > field->maximum()) {
        field->clear();
        return;
    }
    field->setValue(number);
}

// Whether an edit holds a value that may be stored: not empty, and accepted by
// its validator (a port field that was left empty has none).
bool holdsValue(const QLineEdit* edit) {
    return !edit->text().isEmpty() && edit->hasAcceptableInput();
}

constexpr qint32 LowestConnections = 1;

// A stored port that no connection can use, or a number of connections the
// field cannot hold (a hand-edited file), is reported when the project is
// opened; the field then waits for a valid value.
void reportUnusableNumbers(const TVellisyncProject& project) {
    for (const QString& problem : {project.ServerPortProblem(), project.ProxyPortProblem()}) {
        if (!problem.isEmpty())
            showUserMessage(QStringLiteral("%1. Enter a port in that range before going on.").arg(problem));
    }
    if (project.Connections < LowestConnections || project.Connections > TVellisyncProject::MaxConnections) {
        showUserMessage(QStringLiteral("Simultaneous connections %1 is outside the range %2 to %3. Enter a number in "
                                       "that range before going on.")
                            .arg(project.Connections)
                            .arg(LowestConnections)
                            .arg(TVellisyncProject::MaxConnections));
    }
}

// Deletes a project's file. A file that stays is an error with the system's
// reason, raised before the caller lets go of the list item; a file that is
// already gone counts as removed.
void removeProjectFile(const QString& path) {
    QFile file(path);
    if (file.remove() || !QFileInfo::exists(path))
        return;
    throw VellisyncError(QStringLiteral("Cannot remove the project file \"%1\": %2")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
}

// A titled box of exclusive choices in two columns; the button group gives the
// item index (-1 when none is chosen).
QGroupBox* newRadioGroup(const QString& name, const QString& title, const QStringList& items, QButtonGroup*& group,
                         QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(name);
    box->setProperty(RadioGroupProperty, true);
    auto* grid = new QGridLayout(box);
    group = new QButtonGroup(box);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], box);
        button->setObjectName(QStringLiteral("%1Item%2").arg(name).arg(i));
        group->addButton(button, i);
        grid->addWidget(button, i / 2, i % 2);
    }
    group->button(0)->setChecked(true);
    return box;
}

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

// The little book of the promotional panel.
QPixmap guidePicture(int size) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 55.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2a, 0x6f, 0xb8));
    painter.drawRoundedRect(QRectF(6 * unit, 6 * unit, 43 * unit, 43 * unit), 6 * unit, 6 * unit);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(14 * unit, 13 * unit, 27 * unit, 29 * unit));
    painter.setPen(QPen(QColor(0x2a, 0x6f, 0xb8), 2 * unit));
    for (int line = 0; line < 4; ++line)
        painter.drawLine(QPointF(18 * unit, (20 + 6 * line) * unit), QPointF(37 * unit, (20 + 6 * line) * unit));
    return picture;
}

QLabel* newHeadingLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

// --- Construction -------------------------------------------------------------

TVellisyncMain::TVellisyncMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("VellisyncMain"));
    setWindowTitle(QStringLiteral("Vellisync"));

    // The placeholders of page 1 are the new-project defaults.
    TVellisyncProject defaults;
    defaults.SetDefaults();
    m_placeholderHost = defaults.Server;
    m_placeholderPassword = defaults.Password;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(createHeader());
    PageControl1 = new QStackedWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->addWidget(createWelcomePage());
    PageControl1->addWidget(createServerPage());
    PageControl1->addWidget(createProxyPage());
    PageControl1->addWidget(createFoldersPage());
    PageControl1->addWidget(createMasksPage());
    PageControl1->addWidget(createReviewPage());
    PageControl1->addWidget(createGoPage());
    layout->addWidget(PageControl1, 1);
    layout->addWidget(createFooter());

    m_logSink = std::make_unique<MemoLineSink>(Memo2);
    connectHandlers();
    fixWindowSize();
}

TVellisyncMain::~TVellisyncMain() {
    // A run still going when the window goes (the program is ending some other
    // way than through Close) must not outlive its log and end handler.
    if (m_runActive) {
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
    Label13 = newHeadingLabel(PageTitles[0], Panel1);
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

QWidget* TVellisyncMain::createWelcomePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));
    auto* layout = new QVBoxLayout(page);
    rbNewProject = new QRadioButton(QStringLiteral("Create new project"), page);
    rbNewProject->setObjectName(QStringLiteral("rbNewProject"));
    rbNewProject->setChecked(true);
    rbOpenExisting = new QRadioButton(QStringLiteral("Open existing project"), page);
    rbOpenExisting->setObjectName(QStringLiteral("rbOpenExisting"));

    lvProjects = new QListWidget(page);
    lvProjects->setObjectName(QStringLiteral("lvProjects"));
    lvProjects->setSelectionMode(QAbstractItemView::SingleSelection);
    lvProjects->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvProjects->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    lvProjects->setSortingEnabled(true);
    // The selection stays visible while the list has no keyboard focus.
    QPalette palette = lvProjects->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    lvProjects->setPalette(palette);
    lvProjects->setItemDelegate(new CaptionEditDelegate(
        [this](const QModelIndex& index, const QString& typed) {
            QListWidgetItem* item = lvProjects->item(index.row());
            runGuarded([&] {
                QString text = typed;
                lvProjectsEdited(item, text);
                item->setText(text);
            });
        },
        lvProjects));

    Panel4 = new QFrame(page);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    auto* buttons = new QHBoxLayout(Panel4);
    buttons->setContentsMargins(0, 0, 0, 0);
    bEditCaption = new QPushButton(QStringLiteral("Edit Caption"), Panel4);
    bEditCaption->setObjectName(QStringLiteral("bEditCaption"));
    bRemoveProject = new QPushButton(QStringLiteral("Remove Selected Project"), Panel4);
    bRemoveProject->setObjectName(QStringLiteral("bRemoveProject"));
    buttons->addWidget(bEditCaption);
    buttons->addWidget(bRemoveProject);
    buttons->addStretch(1);

    layout->addWidget(rbNewProject);
    layout->addWidget(rbOpenExisting);
    auto* indented = new QVBoxLayout;
    indented->setContentsMargins(20, 0, 0, 0);
    indented->addWidget(lvProjects, 1);
    indented->addWidget(Panel4);
    layout->addLayout(indented, 1);
    return page;
}

QWidget* TVellisyncMain::createServerPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet2"));
    auto* layout = new QVBoxLayout(page);

    auto* server = new QGridLayout;
    eHost = new QLineEdit(m_placeholderHost, page);
    eHost->setObjectName(QStringLiteral("eHost"));
    udPort = newPortSpinBox(QStringLiteral("udPort"), QStringLiteral("ePort"), 1, page);
    ePort = udPort->findChild<QLineEdit*>();
    server->addWidget(newBuddyLabel(QStringLiteral("Host"), eHost, page), 0, 0);
    server->addWidget(newBuddyLabel(QStringLiteral("Port"), udPort, page), 0, 1);
    server->addWidget(eHost, 1, 0);
    server->addWidget(udPort, 1, 1);
    server->setColumnStretch(0, 4);
    server->setColumnStretch(1, 1);
    layout->addLayout(server);

    GroupBox1 = new QGroupBox(QStringLiteral("Authentication"), page);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* logon = new QGridLayout(GroupBox1);
    cbAnonim = new QCheckBox(QStringLiteral("Anonymous Logon"), GroupBox1);
    cbAnonim->setObjectName(QStringLiteral("cbAnonim"));
    cbAnonim->setChecked(true);
    eUserName = new QLineEdit(QStringLiteral("anonymous"), GroupBox1);
    eUserName->setObjectName(QStringLiteral("eUserName"));
    ePassword = new QLineEdit(m_placeholderPassword, GroupBox1);
    ePassword->setObjectName(QStringLiteral("ePassword"));
    ePassword->setEchoMode(QLineEdit::Password);
    logon->addWidget(cbAnonim, 0, 0, 1, 2);
    logon->addWidget(newBuddyLabel(QStringLiteral("Username:"), eUserName, GroupBox1), 1, 0);
    logon->addWidget(eUserName, 1, 1);
    logon->addWidget(newBuddyLabel(QStringLiteral("Password:"), ePassword, GroupBox1), 2, 0);
    logon->addWidget(ePassword, 2, 1);
    layout->addWidget(GroupBox1);

    cbPassive = new QCheckBox(QStringLiteral("Passive mode"), page);
    cbPassive->setObjectName(QStringLiteral("cbPassive"));
    layout->addWidget(cbPassive);

    udConnections = newNumberSpinBox(QStringLiteral("udConnections"), QStringLiteral("eConnections"), LowestConnections,
                                     TVellisyncProject::MaxConnections, TVellisyncProject::DefaultConnections, page);
    eConnections = udConnections->findChild<QLineEdit*>();
    // Servers stall when several of their connections back to us open at once,
    // so a run in active mode keeps to one whatever the setting.
    udConnections->setToolTip(QStringLiteral("Active mode always uses one connection."));
    auto* connections = new QHBoxLayout;
    connections->addWidget(newBuddyLabel(QStringLiteral("Simultaneous connections:"), udConnections, page));
    connections->addWidget(udConnections);
    connections->addStretch(1);
    layout->addLayout(connections);
    cbEncryption = addEncryptionChoice(*layout, page, *udPort);
    layout->addStretch(1);
    return page;
}

QWidget* TVellisyncMain::createProxyPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet3"));
    auto* layout = new QVBoxLayout(page);
    rgUsingProxy = newRadioGroup(QStringLiteral("rgUsingProxy"), QStringLiteral("Using Proxy"),
                                 {QStringLiteral("Direct connection (without proxy)"), QStringLiteral("Use proxy")},
                                 m_usingProxyItems, page);
    layout->addWidget(rgUsingProxy);

    gbProxySettings = new QGroupBox(QStringLiteral("Proxy Settings"), page);
    gbProxySettings->setObjectName(QStringLiteral("gbProxySettings"));
    auto* grid = new QGridLayout(gbProxySettings);
    rbFTP = new QRadioButton(QStringLiteral("FTP Proxy"), gbProxySettings);
    rbFTP->setObjectName(QStringLiteral("rbFTP"));
    rbFTP->setChecked(true);
    rbSocks = new QRadioButton(QStringLiteral("SOCKS"), gbProxySettings);
    rbSocks->setObjectName(QStringLiteral("rbSocks"));
    eProxyHost = new QLineEdit(PlaceholderProxyHost, gbProxySettings);
    eProxyHost->setObjectName(QStringLiteral("eProxyHost"));
    udProxyPort = newPortSpinBox(QStringLiteral("udProxyPort"), QStringLiteral("eProxyPort"), 0, gbProxySettings);
    eProxyPort = udProxyPort->findChild<QLineEdit*>();
    grid->addWidget(rbFTP, 0, 0);
    grid->addWidget(rbSocks, 0, 1);
    grid->addWidget(newBuddyLabel(QStringLiteral("Host"), eProxyHost, gbProxySettings), 1, 0);
    grid->addWidget(newBuddyLabel(QStringLiteral("Port"), udProxyPort, gbProxySettings), 1, 1);
    grid->addWidget(eProxyHost, 2, 0);
    grid->addWidget(udProxyPort, 2, 1);
    grid->setColumnStretch(0, 4);
    grid->setColumnStretch(1, 1);
    layout->addWidget(gbProxySettings);
    layout->addStretch(1);
    return page;
}

QWidget* TVellisyncMain::createFoldersPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet4"));
    auto* layout = new QVBoxLayout(page);
    auto* folders = new QGridLayout;
    eRemote = new QLineEdit(page);
    eRemote->setObjectName(QStringLiteral("eRemote"));
    eLocal = new QLineEdit(page);
    eLocal->setObjectName(QStringLiteral("eLocal"));
    Button6 = new QPushButton(QStringLiteral("..."), page);
    Button6->setObjectName(QStringLiteral("Button6"));
    Button6->setFixedWidth(Button6->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 20);
    folders->addWidget(newBuddyLabel(QStringLiteral("&Remote Folder:"), eRemote, page), 0, 0, 1, 2);
    folders->addWidget(eRemote, 1, 0, 1, 2);
    folders->addWidget(newBuddyLabel(QStringLiteral("&Local Folder:"), eLocal, page), 2, 0, 1, 2);
    folders->addWidget(eLocal, 3, 0);
    folders->addWidget(Button6, 3, 1);
    layout->addLayout(folders);

    rgMode = newRadioGroup(
        QStringLiteral("rgMode"), QStringLiteral("&Synchronization mode"),
        {QStringLiteral("Local => Remote"), QStringLiteral("Local <= Remote"), QStringLiteral("Local <=> Remote")},
        m_modeItems, page);
    layout->addWidget(rgMode);
    auto* options = new QHBoxLayout;
    cbSubfolders = new QCheckBox(QStringLiteral("Include Subfolders"), page);
    cbSubfolders->setObjectName(QStringLiteral("cbSubfolders"));
    cbExact = new QCheckBox(QStringLiteral("Exact Copy"), page);
    cbExact->setObjectName(QStringLiteral("cbExact"));
    options->addWidget(cbSubfolders);
    options->addWidget(cbExact);
    options->addStretch(1);
    layout->addLayout(options);
    layout->addStretch(1);
    return page;
}

QWidget* TVellisyncMain::createMasksPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet5"));
    auto* layout = new QVBoxLayout(page);
    eIncludeMasks = new QLineEdit(QStringLiteral("*.*"), page);
    eIncludeMasks->setObjectName(QStringLiteral("eIncludeMasks"));
    eExcludeMasks = new QLineEdit(page);
    eExcludeMasks->setObjectName(QStringLiteral("eExcludeMasks"));
    layout->addWidget(newBuddyLabel(QStringLiteral("Include masks (comma separated)"), eIncludeMasks, page));
    layout->addWidget(eIncludeMasks);
    layout->addSpacing(8);
    layout->addWidget(newBuddyLabel(QStringLiteral("Exclude masks (comma separated)"), eExcludeMasks, page));
    layout->addWidget(eExcludeMasks);
    layout->addStretch(1);
    return page;
}

QWidget* TVellisyncMain::createReviewPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet6"));
    auto* layout = new QVBoxLayout(page);
    mReview = new QPlainTextEdit(page);
    mReview->setObjectName(QStringLiteral("mReview"));
    mReview->setReadOnly(true);
    mReview->setLineWrapMode(QPlainTextEdit::NoWrap);
    mReview->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mReview->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The review reads as part of the page, not as something to edit.
    QPalette palette = mReview->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    mReview->setPalette(palette);
    layout->addWidget(newHeadingLabel(QStringLiteral("Review of the project"), page));
    layout->addWidget(mReview, 1);
    return page;
}

QWidget* TVellisyncMain::createGoPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet7"));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(newHeadingLabel(QStringLiteral("Progress Log"), page));
    Memo2 = new QPlainTextEdit(page);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setReadOnly(true);
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(Memo2, 1);

    auto* buttons = new QHBoxLayout;
    bStop = new QPushButton(QStringLiteral("Stop"), page);
    bStop->setObjectName(QStringLiteral("bStop"));
    bSaveLog = new QPushButton(QStringLiteral("Save Log"), page);
    bSaveLog->setObjectName(QStringLiteral("bSaveLog"));
    bSaveProject = new QPushButton(QStringLiteral("Save Project"), page);
    bSaveProject->setObjectName(QStringLiteral("bSaveProject"));
    buttons->addStretch(1);
    for (QPushButton* button : {bStop, bSaveLog, bSaveProject}) {
        button->setMinimumWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("Save Project")) + 28);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);

    Panel7 = new QFrame(page);
    Panel7->setObjectName(QStringLiteral("Panel7"));
    Panel7->setFrameShape(QFrame::NoFrame);
    Panel7->setCursor(Qt::PointingHandCursor);
    Panel7->setToolTip(QStringLiteral("Open the Vellisync user guide"));
    auto* promo = new QHBoxLayout(Panel7);
    promo->setContentsMargins(4, 2, 4, 2);
    auto* picture = new QLabel(Panel7);
    picture->setObjectName(QStringLiteral("Image2"));
    const int pictureSize = std::max(40, 3 * fontMetrics().height());
    picture->setPixmap(guidePicture(pictureSize));
    auto* text =
        newHeadingLabel(QStringLiteral("Vellisync user guide\nHow to describe, run and save a sync job"), Panel7);
    text->setObjectName(QStringLiteral("Label9"));
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
    text->setPalette(palette);
    for (QWidget* part : std::initializer_list<QWidget*>{Panel7, picture, text}) {
        part->setCursor(Qt::PointingHandCursor);
        part->installEventFilter(this);
    }
    promo->addWidget(picture);
    promo->addWidget(text, 1);
    layout->addWidget(Panel7);
    return page;
}

void TVellisyncMain::connectHandlers() {
    connect(bNext, &QPushButton::clicked, this, guarded([this] { bNextClick(); }));
    connect(bBack, &QPushButton::clicked, this, guarded([this] { bBackClick(); }));
    connect(bClose, &QPushButton::clicked, this, guarded([this] { bCloseClick(); }));
    connect(rbNewProject, &QRadioButton::clicked, this, guarded([this] { rbClick(); }));
    connect(rbOpenExisting, &QRadioButton::clicked, this, guarded([this] { rbClick(); }));
    connect(cbAnonim, &QCheckBox::clicked, this, guarded([this] { cbAnonimClick(); }));
    connect(m_usingProxyItems, &QButtonGroup::buttonClicked, this, guarded([this] { rgUsingProxyClick(); }));
    connect(m_modeItems, &QButtonGroup::buttonClicked, this, guarded([this] { rgModeClick(); }));
    connect(Button6, &QPushButton::clicked, this, guarded([this] { Button6Click(); }));
    connect(bEditCaption, &QPushButton::clicked, this, guarded([this] { bEditCaptionClick(); }));
    connect(bRemoveProject, &QPushButton::clicked, this, guarded([this] { bRemoveProjectClick(); }));
    connect(bStop, &QPushButton::clicked, this, guarded([this] { bStopClick(); }));
    connect(bSaveLog, &QPushButton::clicked, this, guarded([this] { bSaveLogClick(); }));
    connect(bSaveProject, &QPushButton::clicked, this, guarded([this] { bSaveProjectClick(); }));
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
    if (m_runActive) {
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

bool TVellisyncMain::eventFilter(QObject* watched, QEvent* event) {
    const bool promotional = watched == Panel7 || (watched->parent() == Panel7 && watched->isWidgetType());
    if (promotional && event->type() == QEvent::MouseButtonPress) {
        Panel7MouseDown();
        return true;
    }
    if (promotional && event->type() == QEvent::MouseButtonRelease) {
        Panel7MouseUp();
        auto* widget = static_cast<QWidget*>(watched);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (widget->rect().contains(mouse->position().toPoint()))
            runGuarded([this] { Panel7Click(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// --- Form and page navigation -------------------------------------------------

void TVellisyncMain::FormShow() {
    PageControl1->setCurrentIndex(WelcomePage);
    Label13->setText(PageTitles[WelcomePage]);
    Label1->setText(PageDescriptions[WelcomePage]);
    setWindowTitle(QStringLiteral("%1 %2").arg(windowTitle(), QStringLiteral("1.4")));
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
    const QString folder = uiPrompts().folder(this, QStringLiteral("Select local folder"), eLocal->text());
    if (!folder.isEmpty())
        eLocal->setText(QDir::toNativeSeparators(folder));
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
    switch (PageControl1->currentIndex()) {
    case WelcomePage:
        SetControlEnabled(lvProjects, rbOpenExisting->isChecked());
        SetControlEnabled(Panel4, rbOpenExisting->isChecked());
        FillProjectList();
        break;
    case ServerPage:
        if (cbAnonim->isChecked()) {
            eUserName->setText(QStringLiteral("anonymous"));
            ePassword->setText(m_placeholderPassword);
        }
        SetControlEnabled(eUserName, !cbAnonim->isChecked());
        SetControlEnabled(ePassword, !cbAnonim->isChecked());
        break;
    case ProxyPage:
        SetControlEnabled(gbProxySettings, m_usingProxyItems->checkedId() > 0);
        break;
    case FoldersPage:
        // A disabled Exact Copy keeps its tick; the tick is stored as it is.
        SetControlEnabled(cbExact, m_modeItems->checkedId() == 0 || m_modeItems->checkedId() == 1);
        break;
    case MasksPage:
        break;
    case ReviewPage:
        mReview->setPlainText(currentProject().GetReviewText());
        break;
    case GoPage:
        StartRun();
        break;
    default:
        break;
    }
}

bool TVellisyncMain::refuseWithSound(QLineEdit* edit) {
    edit->setFocus(Qt::OtherFocusReason);
    uiPrompts().beep();
    return false;
}

bool TVellisyncMain::PageControl1Changing() {
    TVellisyncProject& project = currentProject();
    switch (PageControl1->currentIndex()) {
    case WelcomePage: {
        if (rbNewProject->isChecked()) {
            project.SetDefaults();
        } else {
            const QList<QListWidgetItem*> selected = lvProjects->selectedItems();
            const TVellisyncProject* stored = selected.isEmpty() ? nullptr : itemProject(selected.constFirst());
            if (!rbOpenExisting->isChecked() || stored == nullptr)
                return false;
            // Whatever the load leaves in the project goes on to page 1.
            project.LoadFromFile(stored->FileName);
            reportUnusableNumbers(project);
        }
        fillServerPage();
        return true;
    }
    case ServerPage:
        if (!MovingForward)
            return true;
        for (QLineEdit* required : {eHost, ePort, eUserName, ePassword, eConnections}) {
            if (!holdsValue(required))
                return refuseWithSound(required);
        }
        project.SetServer(eHost->text());
        project.SetPort(udPort->value());
        project.SetUserName(eUserName->text());
        project.SetPassword(ePassword->text());
        project.SetPassive(cbPassive->isChecked());
        project.SetConnections(udConnections->value());
        storeEncryption(*cbEncryption, project);
        fillProxyPage();
        return true;
    case ProxyPage: {
        if (!MovingForward)
            return true;
        const bool useProxy = m_usingProxyItems->checkedId() > 0;
        if (useProxy && !holdsValue(eProxyPort))
            return refuseWithSound(eProxyPort);
        project.SetUseProxy(useProxy);
        project.SetProxyKind(rbFTP->isChecked() ? 0 : 1);
        project.SetProxyServer(eProxyHost->text());
        // An empty field stands for a stored port it cannot show; a direct
        // connection keeps that port as it is.
        if (holdsValue(eProxyPort))
            project.SetProxyPort(udProxyPort->value());
        fillFoldersPage();
        return true;
    }
    case FoldersPage:
        if (!MovingForward)
            return true;
        for (QLineEdit* required : {eRemote, eLocal}) {
            if (required->text().isEmpty())
                return refuseWithSound(required);
        }
        project.SetRemoteFolder(eRemote->text());
        project.SetLocalFolder(eLocal->text());
        project.SetSyncMode(quint8(std::max(0, m_modeItems->checkedId())));
        project.SetSubFilders(cbSubfolders->isChecked());
        project.SetExact(cbExact->isChecked());
        fillMasksPage();
        return true;
    case MasksPage:
        storeMasks();
        return true;
    case ReviewPage:
        return true;
    case GoPage:
        return QuerySaveChanges();
    default:
        return true;
    }
}

void TVellisyncMain::fillServerPage() {
    const TVellisyncProject& project = currentProject();
    eHost->setText(project.Server);
    showStoredNumber(udPort, project.Port);
    eUserName->setText(project.UserName);
    ePassword->setText(project.Password);
    cbPassive->setChecked(project.Passive);
    showStoredNumber(udConnections, project.Connections);
    showEncryption(*cbEncryption, project);
    cbAnonim->setChecked(eUserName->text().toLower() == QStringLiteral("anonymous"));
}

void TVellisyncMain::fillProxyPage() {
    const TVellisyncProject& project = currentProject();
    m_usingProxyItems->button(project.UseProxy ? 1 : 0)->setChecked(true);
    (project.ProxyKind == 0 ? rbFTP : rbSocks)->setChecked(true);
    eProxyHost->setText(project.ProxyServer);
    showStoredNumber(udProxyPort, project.ProxyPort);
}

void TVellisyncMain::fillFoldersPage() {
    const TVellisyncProject& project = currentProject();
    eRemote->setText(project.RemoteFolder);
    eLocal->setText(project.LocalFolder);
    // A mode past the last item (from a hand-edited file) selects the last item.
    m_modeItems->button(std::min<int>(project.SyncMode, 2))->setChecked(true);
    cbSubfolders->setChecked(project.SubFilders);
    cbExact->setChecked(project.Exact);
}

void TVellisyncMain::fillMasksPage() {
    const TVellisyncProject& project = currentProject();
    eIncludeMasks->setText(project.IncludeMasks);
    eExcludeMasks->setText(project.ExcludeMasks);
}

void TVellisyncMain::storeMasks() {
    currentProject().SetIncludeMasks(eIncludeMasks->text());
    currentProject().SetExcludeMasks(eExcludeMasks->text());
}

void TVellisyncMain::SetControlEnabled(QWidget* control, bool enabled) {
    if (control == nullptr)
        return;
    control->setEnabled(enabled);
    if (auto* label = qobject_cast<QLabel*>(control)) {
        SetControlEnabled(label->buddy(), enabled);
        return;
    }
    const bool holdsText = qobject_cast<QLineEdit*>(control) || qobject_cast<QAbstractSpinBox*>(control) ||
                           qobject_cast<QPlainTextEdit*>(control) || qobject_cast<QAbstractItemView*>(control);
    if (holdsText) {
        QPalette palette = control->palette();
        const QPalette& system = QApplication::palette();
        const QColor background = enabled ? system.color(QPalette::Base) : system.color(QPalette::Button);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            palette.setColor(group, QPalette::Base, background);
        control->setPalette(palette);
        return;
    }
    // Panels and group boxes pass the state on to what they hold; radio groups
    // count as single controls.
    const bool radioGroup = control->property(RadioGroupProperty).toBool();
    const bool container =
        !radioGroup && (control->inherits("QGroupBox") || control->metaObject() == &QFrame::staticMetaObject ||
                        control->metaObject() == &QWidget::staticMetaObject);
    if (!container)
        return;
    for (QObject* child : control->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow())
            SetControlEnabled(widget, enabled);
    }
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
    if (item == nullptr || item->type() != ProjectItem::Type)
        return nullptr;
    return static_cast<const ProjectItem*>(item)->project();
}

void TVellisyncMain::FillProjectList() {
    ListBatchUpdate batch(lvProjects);
    lvProjects->clear();
    for (const QString& path : ProjectFilesIn(ProjectsFolder)) {
        auto project = std::make_unique<TVellisyncProject>();
        project->LoadFromFile(path);
        lvProjects->addItem(new ProjectItem(std::move(project)));
    }
}

void TVellisyncMain::bEditCaptionClick() {
    const QList<QListWidgetItem*> selected = lvProjects->selectedItems();
    if (selected.isEmpty())
        return;
    lvProjects->setCurrentItem(selected.constFirst());
    lvProjects->editItem(selected.constFirst());
}

void TVellisyncMain::lvProjectsEdited(QListWidgetItem* item, QString& text) {
    if (text.isEmpty())
        text = NoCaption;
    if (TVellisyncProject* project = itemProject(item)) {
        project->SetCaption(text);
        project->SaveToFile(project->FileName);
    }
}

void TVellisyncMain::bRemoveProjectClick() {
    const QList<QListWidgetItem*> selected = lvProjects->selectedItems();
    if (selected.isEmpty())
        return;
    if (!ConfirmYesNo(QStringLiteral("Are you sure to remove selected project?")))
        return;
    QListWidgetItem* item = selected.constFirst();
    if (const TVellisyncProject* project = itemProject(item))
        removeProjectFile(project->FileName);
    // The item owns its project object; taking it out of the list and letting
    // it go frees both.
    std::unique_ptr<QListWidgetItem> removed(lvProjects->takeItem(lvProjects->row(item)));
}

// --- Run page -------------------------------------------------------------------

void TVellisyncMain::StartRun() {
    Memo2->clear();
    SetControlEnabled(bSaveLog, false);
    SetControlEnabled(bSaveProject, false);
    SetControlEnabled(bNext, false);
    auto thread = std::make_unique<TFTPSyncThread>();
    thread->SetLines(m_logSink.get());
    thread->SetProject(CurrentProject.get());
    thread->SetOnTerminate([this](TFTPSyncThread& sender) { SyncThreadTerminated(sender); });
    m_runActive = true;
    m_syncThread = thread.get();
    // From here on the thread object frees itself when its run has ended.
    thread.release()->Resume();
}

void TVellisyncMain::SyncThreadTerminated(TFTPSyncThread&) {
    m_runActive = false;
    SetControlEnabled(bSaveLog, true);
    SetControlEnabled(bSaveProject, true);
    SetControlEnabled(bNext, true);
    if (m_closeConfirmed) {
        // The close that waited for the run goes on once the thread object
        // has let go of the project and been deleted.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    } else if (offerToTrustCertificate(this, currentProject())) {
        // Again once the thread object of this run is gone.
        QMetaObject::invokeMethod(
            this, [this] { StartRun(); }, Qt::QueuedConnection);
    }
}

void TVellisyncMain::waitForRunEnd() {
    while (m_runActive)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 100);
}

void TVellisyncMain::bStopClick() {
    currentProject().RequestStop();
}

void TVellisyncMain::bSaveLogClick() {
    QString path = uiPrompts().saveFileName(this, QStringLiteral("Save log file..."),
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".txt");
    QByteArray text;
    const QString log = Memo2->toPlainText();
    if (!log.isEmpty()) {
        for (const QString& line : log.split(QLatin1Char('\n')))
            text += line.toUtf8() + "\r\n";
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw VellisyncError(
            QStringLiteral("Cannot write \"%1\": %2").arg(QDir::toNativeSeparators(path), file.errorString()));
}

void TVellisyncMain::bSaveProjectClick() {
    SaveProject();
}

bool TVellisyncMain::QuerySaveChanges() {
    if (!currentProject().Modified)
        return true;
    switch (ConfirmYesNoCancel(QStringLiteral("Project has been modified!\nDo you want to save changes?"))) {
    case QMessageBox::Yes:
        SaveProject();
        return true;
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void TVellisyncMain::SaveProject() {
    TVellisyncProject& project = currentProject();
    QString target = project.FileName;
    if (target.isEmpty()) {
        const std::optional<QString> caption = uiPrompts().textQuery(
            this, QStringLiteral("Enter the project caption, please"), QStringLiteral("Caption"), project.Caption);
        // Cancel keeps the current caption and still saves.
        if (caption && !caption->isEmpty())
            project.SetCaption(*caption);
        target = AddTrailingBackslash(ProjectsFolder) +
                 UniqueFileName(ProjectsFolder, QString::fromLatin1(ProjectFileNameFormat));
    }
    if (project.SaveToFile(target))
        project.FileName = target;
}

bool TVellisyncMain::FormCloseQuery() {
    return QuerySaveChanges();
}

void TVellisyncMain::Panel7MouseDown() {
    Panel7->setFrameShape(QFrame::Panel);
    Panel7->setFrameShadow(QFrame::Sunken);
}

void TVellisyncMain::Panel7MouseUp() {
    Panel7->setFrameShape(QFrame::NoFrame);
}

QUrl TVellisyncMain::userGuideUrl() {
    const QStringList folders = {
        QStringLiteral(VELLISYNC_DOC_DIR),
        // A relocated installation keeps the guide beside the program's prefix.
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/Vellisync"),
        QStringLiteral(VELLISYNC_SOURCE_DOC_DIR),
    };
    for (const QString& folder : folders) {
        const QFileInfo guide(folder + QLatin1Char('/') + UserGuideFile);
        if (guide.isFile())
            return QUrl::fromLocalFile(guide.absoluteFilePath());
    }
    return {};
}

void TVellisyncMain::Panel7Click() {
    const QUrl guide = userGuideUrl();
    if (guide.isEmpty())
        throw VellisyncError(QStringLiteral("The user guide \"%1\" is not installed").arg(UserGuideFile));
    if (!uiPrompts().openUrl(guide))
        throw VellisyncError(QStringLiteral("Cannot open \"%1\"").arg(guide.toLocalFile()));
}
