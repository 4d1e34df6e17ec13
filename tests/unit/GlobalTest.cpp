#include "model/Global.h"
#include "project/CurrentProject.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "project/VellisyncProject.h"

#include <ostream>
#include <utility>

#include <sys/stat.h>

namespace {

struct PathCase {
    const char* input;
    const char* expected;
};

void PrintTo(const PathCase& c, std::ostream* out) {
    *out << '"' << c.input << "\" -> \"" << c.expected << '"';
}

class AddTrailingBackslashTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(AddTrailingBackslashTest, AppendsTheSeparatorOnce) {
    EXPECT_EQ(AddTrailingBackslash(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Paths, AddTrailingBackslashTest,
                         ::testing::Values(PathCase{"", ""}, PathCase{"/", "/"}, PathCase{"/data", "/data/"},
                                           PathCase{"/data/", "/data/"}, PathCase{"E", "E/"},
                                           PathCase{"dir\\", "dir\\/"}));

class RemoveTrailingSlashTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(RemoveTrailingSlashTest, RemovesOneTrailingSlashOrBackslash) {
    EXPECT_EQ(RemoveTrailingSlash(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Paths, RemoveTrailingSlashTest,
                         ::testing::Values(PathCase{"", ""}, PathCase{"/", "/"}, PathCase{"\\", "\\"},
                                           PathCase{"/pub/", "/pub"}, PathCase{"/pub//", "/pub/"},
                                           PathCase{"Top\\Sub\\", "Top\\Sub"}, PathCase{"/data", "/data"}));

TEST(TrimBlanksAndControls, RemovesCodesUpTo32AtTheEndsOnly) {
    const QString nul(QChar(0));
    const QString noBreakSpace(QChar(0xA0));
    const std::pair<QString, QString> cases[] = {
        {"", ""},
        {" \t\r\n", ""},
        {"\x01host\x1f", "host"},
        {nul + "x" + nul, "x"},
        {"  a \t b  ", "a \t b"},
        {"!x!", "!x!"},
        {noBreakSpace + "x" + noBreakSpace, noBreakSpace + "x" + noBreakSpace},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(trimBlanksAndControls(input), expected) << input.toStdString();
}

TEST(ForceFolders, CreatesEveryMissingLevelWithTheGivenPermissionsAndLeavesExistingOnes) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const mode_t before = modeOf(temp.path());
    const QString target = temp.path() + "/Orvanta/VellisyncProjects";
    EXPECT_TRUE(ForceFolders(target, OwnerOnlyFolder));
    EXPECT_EQ(modeOf(temp.path() + "/Orvanta"), 0700u);
    EXPECT_EQ(modeOf(target), 0700u);
    EXPECT_EQ(modeOf(temp.path()), before);
    EXPECT_TRUE(ForceFolders(target + "/")) << "an existing folder needs nothing";
    EXPECT_TRUE(ForceFolders(QString()));
    EXPECT_TRUE(ForceFolders("/"));
}

TEST(ForceFolders, FailsBelowAPlainFileAndCreatesNothing) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    QFile file(temp.path() + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_FALSE(ForceFolders(temp.path() + "/plain/A/B"));
    EXPECT_TRUE(QFileInfo(temp.path() + "/plain").isFile());
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"plain"});
}

TEST(RandomString, DrawsFromTheGivenOrDefaultAlphabet) {
    const QRegularExpression defaultForm(QStringLiteral("^[0-9A-Z]{8}$"));
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(defaultForm.match(RandomString(8)).hasMatch());
    }
    EXPECT_EQ(RandomString(5, u"x"), "xxxxx");
    EXPECT_EQ(RandomString(0), "");
}

TEST(UniqueFileName, GivesAFreeEightCharacterProjectName) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QRegularExpression form(QStringLiteral("^[0-9A-Z]{8}\\.VSPJ$"));
    for (int i = 0; i < 50; ++i) {
        const QString name = UniqueFileName(temp.path(), ProjectFileNameFormat);
        ASSERT_TRUE(form.match(name).hasMatch()) << name.toStdString();
        ASSERT_FALSE(QFileInfo::exists(temp.filePath(name)));
        QFile file(temp.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)); // the next name must avoid this one
    }
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files).size(), 50);
}

TEST(ProjectFilesIn, ListsRegularVspjFilesDirectlyInTheFolderInAnyCase) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const auto touch = [&](const QString& name) {
        QFile file(temp.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    };
    touch("B.VSPJ");
    touch("a.vspj");
    touch("C.VsPj");
    touch("notes.txt");
    touch("D.VSPJ.tmp");
    QDir(temp.path()).mkdir("Folder.VSPJ");
    QDir(temp.path()).mkdir("sub");
    touch("sub/E.VSPJ");

    EXPECT_EQ(ProjectFilesIn(temp.path()),
              QStringList({temp.filePath("B.VSPJ"), temp.filePath("C.VsPj"), temp.filePath("a.vspj")}));
    EXPECT_TRUE(ProjectFilesIn(temp.path() + "/missing").isEmpty());
}

TEST(Globals, StartUpComputesTheProjectsFolderAndCreatesAnEmptyProject) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(temp.path()));
    InitializeGlobals();
    if (saved.isNull()) {
        qunsetenv("XDG_DATA_HOME");
    } else {
        qputenv("XDG_DATA_HOME", saved);
    }

    EXPECT_EQ(ProjectsFolder, temp.path() + "/Orvanta/VellisyncProjects");
    EXPECT_FALSE(QFileInfo::exists(ProjectsFolder)) << "created only by the first save";
    ASSERT_TRUE(CurrentProject);
    EXPECT_EQ(CurrentProject->Port, 0) << "plain constructor, no defaults";
    EXPECT_TRUE(ProjectFilesIn(ProjectsFolder).isEmpty());

    CurrentProject->SetDefaults();
    ASSERT_TRUE(
        CurrentProject->SaveToFile(ProjectsFolder + "/" + UniqueFileName(ProjectsFolder, ProjectFileNameFormat)));
    EXPECT_EQ(modeOf(ProjectsFolder), 0700u);
    EXPECT_EQ(ProjectFilesIn(ProjectsFolder).size(), 1);
    CurrentProject.reset();
}

} // namespace
