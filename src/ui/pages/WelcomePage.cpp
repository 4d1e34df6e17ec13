#include "ui/pages/WelcomePage.h"

#include <functional>
#include <memory>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "model/Errors.h"
#include "model/Global.h"
#include "model/UserMessage.h"
#include "project/VellisyncProject.h"
#include "ui/ErrorHandler.h"
#include "ui/VellisyncMain.h"
#include "ui/pages/Controls.h"

namespace wizard {

namespace {

const QString NoCaption = QStringLiteral("<No Caption>");
constexpr qint32 LowestConnections = 1;

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

// Hands a confirmed in-place edit to the page instead of writing it into the
// item, so the page decides what the item shows.
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

} // namespace

WelcomePage::WelcomePage(TVellisyncMain& window) : WizardPage(QStringLiteral("TabSheet1"), window) {
    auto* layout = new QVBoxLayout(this);
    rbNewProject = new QRadioButton(QStringLiteral("Create new project"), this);
    rbNewProject->setObjectName(QStringLiteral("rbNewProject"));
    rbNewProject->setChecked(true);
    rbOpenExisting = new QRadioButton(QStringLiteral("Open existing project"), this);
    rbOpenExisting->setObjectName(QStringLiteral("rbOpenExisting"));

    lvProjects = new QListWidget(this);
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
                m_window.lvProjectsEdited(item, text);
                item->setText(text);
            });
        },
        lvProjects));

    Panel4 = new QFrame(this);
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
    ConnectHandlers();
}

void WelcomePage::ConnectHandlers() {
    TVellisyncMain& window = m_window;
    connect(rbNewProject, &QRadioButton::clicked, this, guarded([&window] { window.rbClick(); }));
    connect(rbOpenExisting, &QRadioButton::clicked, this, guarded([&window] { window.rbClick(); }));
    connect(bEditCaption, &QPushButton::clicked, this, guarded([&window] { window.bEditCaptionClick(); }));
    connect(bRemoveProject, &QPushButton::clicked, this, guarded([&window] { window.bRemoveProjectClick(); }));
}

void WelcomePage::Enter() {
    SetControlEnabled(lvProjects, rbOpenExisting->isChecked());
    SetControlEnabled(Panel4, rbOpenExisting->isChecked());
    m_window.FillProjectList();
}

bool WelcomePage::Leave(bool) {
    TVellisyncProject& project = currentProject();
    if (rbNewProject->isChecked()) {
        project.SetDefaults();
        return true;
    }
    const QList<QListWidgetItem*> selected = lvProjects->selectedItems();
    const TVellisyncProject* stored = selected.isEmpty() ? nullptr : ItemProject(selected.constFirst());
    if (!rbOpenExisting->isChecked() || stored == nullptr)
        return false;
    // Whatever the load leaves in the project goes on to page 1.
    project.LoadFromFile(stored->FileName);
    if (QString error; !project.FetchKeyringPassword(error))
        showUserMessage(QStringLiteral("The password of this project is kept in the desktop keyring, which cannot give "
                                       "it (%1). Enter the password on the next page.")
                            .arg(error));
    reportUnusableNumbers(project);
    return true;
}

TVellisyncProject* WelcomePage::ItemProject(const QListWidgetItem* item) {
    if (item == nullptr || item->type() != ProjectItem::Type)
        return nullptr;
    return static_cast<const ProjectItem*>(item)->project();
}

void WelcomePage::FillProjectList() {
    ListBatchUpdate batch(lvProjects);
    lvProjects->clear();
    for (const QString& path : ProjectFilesIn(ProjectsFolder)) {
        auto project = std::make_unique<TVellisyncProject>();
        project->LoadFromFile(path);
        lvProjects->addItem(new ProjectItem(std::move(project)));
    }
}

void WelcomePage::EditCaptionClick() {
    const QList<QListWidgetItem*> selected = lvProjects->selectedItems();
    if (selected.isEmpty())
        return;
    lvProjects->setCurrentItem(selected.constFirst());
    lvProjects->editItem(selected.constFirst());
}

void WelcomePage::ProjectsEdited(QListWidgetItem* item, QString& text) {
    if (text.isEmpty())
        text = NoCaption;
    if (TVellisyncProject* project = ItemProject(item)) {
        project->SetCaption(text);
        project->SaveToFile(project->FileName);
    }
}

void WelcomePage::RemoveProjectClick() {
    const QList<QListWidgetItem*> selected = lvProjects->selectedItems();
    if (selected.isEmpty())
        return;
    if (!m_window.ConfirmYesNo(QStringLiteral("Are you sure to remove selected project?")))
        return;
    QListWidgetItem* item = selected.constFirst();
    if (const TVellisyncProject* project = ItemProject(item)) {
        removeProjectFile(project->FileName);
        project->ForgetKeyringPassword();
    }
    // The item owns its project object; taking it out of the list and letting
    // it go frees both.
    std::unique_ptr<QListWidgetItem> removed(lvProjects->takeItem(lvProjects->row(item)));
}

} // namespace wizard
