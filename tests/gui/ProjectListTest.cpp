// The project list of the first page: filled from the projects folder, renamed
// in place, removed, and opened into the wizard.
#include "gui/WizardFixture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include <QDir>
#include <QFile>

namespace {

// Caption stored in a project file, read back through the store.
QString storedCaption(const QString& path) {
    TVellisyncProject project;
    project.LoadFromFile(path);
    return project.Caption;
}

// Confirms an in-place edit with Enter; the view commits it from its event
// loop, so wait until the editor has gone.
void confirmEdit(QListWidget* list, QLineEdit* editor) {
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->viewport()->findChild<QLineEdit*>() == nullptr; }, 10'000));
}

} // namespace

TEST_F(WizardTest, ListShowsStoredProjectsSortedByCaptionAndSkipsFolders) {
    storeProject(QStringLiteral("Zeta"));
    storeProject(QStringLiteral("alpha"));
    storeProject(QStringLiteral("Mid"));
    storeProject(QStringLiteral("Mid"));
    QDir(ProjectsFolder).mkdir(QStringLiteral("FOLDER.VSPJ"));
    QFile other(AddTrailingBackslash(ProjectsFolder) + QStringLiteral("notes.txt"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    showWindow();
    EXPECT_EQ(listCaptions(), QStringList({"alpha", "Mid", "Mid", "Zeta"}));
    for (int row = 0; row < 4; ++row)
        EXPECT_NE(TVellisyncMain::itemProject(child<QListWidget>("lvProjects")->item(row)), nullptr);
}

TEST_F(WizardTest, MissingProjectsFolderGivesAnEmptyList) {
    ProjectsFolder = m_home.filePath(QStringLiteral("never/created"));
    showWindow();
    click("rbOpenExisting");
    EXPECT_TRUE(listCaptions().isEmpty());
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(QDir(ProjectsFolder).exists());
}

TEST_F(WizardTest, ListIsEnabledOnlyForOpenExistingAndRefilledOnEveryChoice) {
    showWindow();
    EXPECT_FALSE(child<QListWidget>("lvProjects")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("bEditCaption")->isEnabled());
    storeProject(QStringLiteral("Added later"));
    click("rbOpenExisting");
    EXPECT_TRUE(child<QListWidget>("lvProjects")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("bEditCaption")->isEnabled());
    EXPECT_EQ(listCaptions(), QStringList({"Added later"}));
}

struct CaptionEdit {
    const char* typed;
    const char* expected;
};

void PrintTo(const CaptionEdit& edit, std::ostream* out) {
    *out << "typed '" << edit.typed << "'";
}

class CaptionEditTest : public WizardTest, public ::testing::WithParamInterface<CaptionEdit> {};

TEST_P(CaptionEditTest, ConfirmedCaptionIsShownAndSavedToTheFile) {
    const QString path = storeProject(QStringLiteral("Old name"));
    storeProject(QStringLiteral("Other"));
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Old name"));
    click("bEditCaption");
    auto* editor = child<QListWidget>("lvProjects")->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Delete);
    const QString typed = QString::fromUtf8(GetParam().typed);
    // Key clicks exist for plain ASCII only; other text arrives as typed input.
    bool ascii = std::all_of(typed.begin(), typed.end(), [](QChar c) { return c.unicode() < 128; });
    if (ascii)
        QTest::keyClicks(editor, typed);
    else
        editor->insert(typed);
    confirmEdit(child<QListWidget>("lvProjects"), editor);
    const QString expected = QString::fromUtf8(GetParam().expected);
    EXPECT_TRUE(listCaptions().contains(expected));
    EXPECT_FALSE(listCaptions().contains(QStringLiteral("Old name")));
    EXPECT_EQ(storedCaption(path), expected);
    EXPECT_TRUE(errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Captions, CaptionEditTest,
                         ::testing::Values(CaptionEdit{"New name", "New name"}, CaptionEdit{"", "<No Caption>"},
                                           CaptionEdit{"Größe – Ω", "Größe – Ω"}));

TEST_F(WizardTest, CancelledCaptionEditChangesNothing) {
    const QString path = storeProject(QStringLiteral("Kept"));
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Kept"));
    click("bEditCaption");
    auto* editor = child<QListWidget>("lvProjects")->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("Other"));
    QTest::keyClick(editor, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(listCaptions(), QStringList({"Kept"}));
    EXPECT_EQ(storedCaption(path), QStringLiteral("Kept"));
}

TEST_F(WizardTest, RenameInTheListLeavesTheCurrentProjectsCaption) {
    const QString path = storeProject(QStringLiteral("Loaded"));
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Loaded"));
    next();
    back();
    ASSERT_EQ(page(), 0);
    click("rbOpenExisting");
    selectProject(QStringLiteral("Loaded"));
    click("bEditCaption");
    auto* editor = child<QListWidget>("lvProjects")->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Renamed"));
    confirmEdit(child<QListWidget>("lvProjects"), editor);
    EXPECT_EQ(storedCaption(path), QStringLiteral("Renamed"));
    EXPECT_EQ(CurrentProject->Caption, QStringLiteral("Loaded"));
}

struct Removal {
    QMessageBox::StandardButton answer;
    bool removed;
};

void PrintTo(const Removal& removal, std::ostream* out) {
    *out << (removal.answer == QMessageBox::Yes ? "Yes" : "No");
}

class RemovalTest : public WizardTest, public ::testing::WithParamInterface<Removal> {};

TEST_P(RemovalTest, RemoveAsksAndDeletesFileAndEntryOnlyOnYes) {
    const QString path = storeProject(QStringLiteral("Doomed"));
    storeProject(QStringLiteral("Safe"));
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Doomed"));
    answers = {GetParam().answer};
    click("bRemoveProject");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].title, QStringLiteral("Confirmation"));
    EXPECT_EQ(questions[0].text, QStringLiteral("Are you sure to remove selected project?"));
    EXPECT_EQ(questions[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(questions[0].defaultButton, QMessageBox::No);
    EXPECT_EQ(QFile::exists(path), !GetParam().removed);
    EXPECT_EQ(listCaptions().contains(QStringLiteral("Doomed")), !GetParam().removed);
    EXPECT_TRUE(listCaptions().contains(QStringLiteral("Safe")));
}

INSTANTIATE_TEST_SUITE_P(Answers, RemovalTest,
                         ::testing::Values(Removal{QMessageBox::Yes, true}, Removal{QMessageBox::No, false}));

struct LostFile {
    const char* label;
    std::function<void(const QString& path)> change; // done to the listed project's file
    int error;                                       // errno of the reason shown; 0 when the item goes quietly
};

void PrintTo(const LostFile& lost, std::ostream* out) {
    *out << lost.label;
}

class LostFileTest : public WizardTest, public ::testing::WithParamInterface<LostFile> {};

TEST_P(LostFileTest, RemovalKeepsTheItemOnlyWhileItsFileStays) {
    const QString path = storeProject(QStringLiteral("Listed"));
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Listed"));
    GetParam().change(path);
    answers = {QMessageBox::Yes};
    click("bRemoveProject");
    if (GetParam().error) {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0],
                  QStringLiteral("Vellisync | Cannot remove the project file \"%1\": %2.")
                      .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(GetParam().error))));
        EXPECT_EQ(listCaptions(), QStringList({"Listed"}));
    } else {
        EXPECT_TRUE(errors.empty());
        EXPECT_TRUE(listCaptions().isEmpty());
    }
}

// Deleting a folder fails for root too and on any file system, unlike a
// folder without write permission.
INSTANTIATE_TEST_SUITE_P(Files, LostFileTest,
                         ::testing::Values(LostFile{"replaced by a folder",
                                                    [](const QString& path) {
                                                        ASSERT_TRUE(QFile::remove(path));
                                                        ASSERT_TRUE(QDir().mkdir(path));
                                                    },
                                                    EISDIR},
                                           LostFile{"already gone",
                                                    [](const QString& path) { ASSERT_TRUE(QFile::remove(path)); }, 0}));

TEST_F(WizardTest, ListButtonsWithoutSelectionDoNothing) {
    storeProject(QStringLiteral("Unselected"));
    showWindow();
    click("rbOpenExisting");
    child<QListWidget>("lvProjects")->clearSelection();
    click("bRemoveProject");
    click("bEditCaption");
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(child<QListWidget>("lvProjects")->viewport()->findChild<QLineEdit*>(), nullptr);
    EXPECT_EQ(listCaptions(), QStringList({"Unselected"}));
}

TEST_F(WizardTest, OpeningAStoredProjectFillsTheWizardFromItsFile) {
    const QString path = storeProject(QStringLiteral("Site"), [](TVellisyncProject& project) {
        project.SetServer(QStringLiteral("ftp.site.test"));
        project.SetPort(2121);
        project.SetRemoteFolder(QStringLiteral("/www"));
    });
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Site"));
    next();
    ASSERT_EQ(page(), 1);
    EXPECT_EQ(CurrentProject->FileName, path);
    EXPECT_FALSE(CurrentProject->Modified);
    EXPECT_EQ(child<QLineEdit>("eHost")->text(), QStringLiteral("ftp.site.test"));
    EXPECT_EQ(child<QSpinBox>("udPort")->value(), 2121);
    walkNewProjectTo(3);
    EXPECT_EQ(child<QLineEdit>("eRemote")->text(), QStringLiteral("/www"));
}

TEST_F(WizardTest, FileWithAnUnknownTypeIsListedAndTheStoresMessageShown) {
    storeProject(QStringLiteral("Good"));
    QFile odd(AddTrailingBackslash(ProjectsFolder) + QStringLiteral("ODDTYPE1.vspj"));
    ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
    odd.write("[Root]\nCaption=STRING|\"Odd\"\nPort=WORD|21\nServer=STRING|\"ftp.local\"\n");
    odd.close();
    showWindow();
    EXPECT_EQ(listCaptions().size(), 2);
    EXPECT_TRUE(listCaptions().contains(QStringLiteral("Good")));
    ASSERT_FALSE(informations.empty());
    EXPECT_EQ(informations.front(), QStringLiteral("Unknown type 'WORD'"));
    EXPECT_TRUE(errors.empty());
}

TEST_F(WizardTest, FileWhoseLoadFailsStopsTheFillingWithItsMessage) {
    QDir().mkpath(ProjectsFolder);
    TVellisyncProject first;
    first.SetDefaults();
    first.SetCaption(QStringLiteral("First"));
    ASSERT_TRUE(first.SaveToFile(AddTrailingBackslash(ProjectsFolder) + QStringLiteral("AAAAAAAA.VSPJ")));
    QFile broken(AddTrailingBackslash(ProjectsFolder) + QStringLiteral("MMMMMMMM.VSPJ"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("[Root]\nCaption=STRING|\"Broken\"\nPort=INTEGER|twenty-one\nServer=STRING|\"ftp.local\"\n");
    broken.close();
    showWindow();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Vellisync | "))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].endsWith(QLatin1Char('.'))) << errors[0].toStdString();
    EXPECT_EQ(listCaptions(), QStringList({"First"}));
    // The window stays usable: a new project still goes on.
    next();
    EXPECT_EQ(page(), 1);
}
