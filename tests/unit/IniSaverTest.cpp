#include "model/IniSaver.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <utility>

#include "model/Errors.h"
#include "model/UserMessage.h"

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QByteArray exampleFile = "[Root]\r\n"
                               "Count=INTEGER|3\r\n"
                               "Options=FOLDER\r\n"
                               "Recent=STRINGLIST\r\n"
                               "\r\n"
                               "[Options]\r\n"
                               "Ratio=FLOAT|2.5\r\n"
                               "Title=STRING|\"He said \"\"yes\"\"\"\r\n"
                               "\r\n"
                               "[\\Recent]\r\n"
                               "s1=first line\r\n"
                               "s2=second line\r\n"
                               "\r\n";

// Collects what the store shows the user, for the life of the object.
class CapturedMessages {
public:
    CapturedMessages() {
        m_previous = setUserMessageHandler([this](const QString& message) { messages << message; });
    }
    ~CapturedMessages() { setUserMessageHandler(std::move(m_previous)); }
    QStringList messages;

private:
    UserMessageHandler m_previous;
};

void fillExample(TBaseDataSaver& store) {
    store.WriteInteger("Count", 3);
    store.WriteFloat("Options\\Ratio", 2.5);
    store.WriteString("Options\\Title", "He said \"yes\"");
    store.WriteStringList("Recent", {"first line", "second line"});
}

void expectExample(TBaseDataSaver& store) {
    EXPECT_EQ(store.Count(), 3);
    EXPECT_EQ(store.ReadInteger("Count", 0), 3);
    EXPECT_EQ(store.ReadFloat("Options\\Ratio", 0), 2.5);
    EXPECT_EQ(store.ReadString("Options\\Title", ""), "He said \"yes\"");
    QStringList lines;
    EXPECT_TRUE(store.ReadStringList("Recent", lines));
    EXPECT_EQ(lines, QStringList({"first line", "second line"}));
}

// Loads text through a stream into a fresh store.
bool loadText(tinidatasaver& store, const QByteArray& text) {
    QByteArray bytes = text;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return store.LoadFromStream(buffer);
}

QByteArray saveText(tinidatasaver& store, bool* result = nullptr) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const bool ok = store.SaveToStream(buffer);
    if (result != nullptr) {
        *result = ok;
    }
    return bytes;
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }
    QString path(const QString& name) const { return m_temp.filePath(name); }

    QTemporaryDir m_temp;
};

TEST_F(IniFileTest, SaveWritesTheExampleByteForByteAndLoadReadsItBack) {
    tinidatasaver store;
    fillExample(store);
    store.SetFileName(path("example.ini"));
    EXPECT_TRUE(store.Save());
    EXPECT_EQ(readFile(path("example.ini")), exampleFile);
    EXPECT_EQ(saveText(store), exampleFile);

    tinidatasaver loaded;
    loaded.SetFileName(path("example.ini"));
    EXPECT_TRUE(loaded.Load());
    expectExample(loaded);

    tinidatasaver fromStream;
    EXPECT_TRUE(loadText(fromStream, exampleFile));
    expectExample(fromStream);
    EXPECT_EQ(saveText(fromStream), exampleFile) << "save, load, save gives the same bytes";
}

TEST_F(IniFileTest, SaveReplacesTheWholeFileAtomicallyAndForItsOwnerOnly) {
    writeFile(path("store.ini"), "[Root]\r\nOld=INTEGER|1\r\n\r\n[Foreign]\r\nx=y\r\n");
    ::chmod(QFile::encodeName(path("store.ini")).constData(), 0644);
    tinidatasaver store;
    store.SetFileName(path("store.ini"));
    store.WriteInteger("New", 2);
    EXPECT_TRUE(store.Save());
    EXPECT_EQ(readFile(path("store.ini")), "[Root]\r\nNew=INTEGER|2\r\n\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path("store.ini")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(m_temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"store.ini"})
        << "no temporary file is left behind";
}

TEST_F(IniFileTest, AFailedWriteLeavesThePreviousFileWhole) {
    const QByteArray previous = "[Root]\r\nKeep=STRING|\"me\"\r\n\r\n";
    writeFile(path("store.ini"), previous);
    tinidatasaver store;
    store.SetFileName(path("store.ini"));
    store.WriteString("Big", QString(4096, u'x'));

    // A file-size limit makes the write fail part-way, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString message = errorOf([&] { store.Save(); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(message.startsWith("Cannot create file \"" + path("store.ini") + "\". ")) << message.toStdString();
    EXPECT_EQ(readFile(path("store.ini")), previous);
    EXPECT_EQ(QDir(m_temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"store.ini"});
}

TEST_F(IniFileTest, FileErrorsNameTheFileAndTheReason) {
    QDir(m_temp.path()).mkdir("folder.ini");
    writeFile(path("plain"), "x");
    struct Case {
        const char* label;
        QString file;
        bool save;
        QString messageStart;
    };
    const Case cases[] = {
        {"load a folder", path("folder.ini"), false, "Cannot open file \"" + path("folder.ini") + "\". "},
        {"save over a folder", path("folder.ini"), true, "Cannot open file \"" + path("folder.ini") + "\". "},
        {"save below a plain file", path("plain/store.ini"), true,
         "Cannot create file \"" + path("plain/store.ini") + "\". "},
        {"save into a missing folder", path("missing/store.ini"), true,
         "Cannot create file \"" + path("missing/store.ini") + "\". "},
    };
    for (const Case& c : cases) {
        tinidatasaver store;
        store.WriteInteger("Value", 1);
        store.SetFileName(c.file);
        const QString message = errorOf([&] { c.save ? store.Save() : store.Load(); });
        EXPECT_TRUE(message.startsWith(c.messageStart)) << c.label << ": " << message.toStdString();
        EXPECT_GT(message.size(), c.messageStart.size()) << c.label << ": the reason follows";
    }
    EXPECT_TRUE(QFileInfo(path("plain")).isFile());
}

TEST_F(IniFileTest, AMissingFileLoadsAsEmptyAndAnEmptyStoreSavesNoLines) {
    tinidatasaver store;
    store.SetFileName(path("absent.ini"));
    store.WriteInteger("Kept", 5);
    EXPECT_TRUE(store.Load());
    EXPECT_EQ(store.ReadInteger("Kept", 0), 5);

    tinidatasaver empty;
    empty.SetFileName(path("empty.ini"));
    EXPECT_TRUE(empty.Save());
    EXPECT_TRUE(QFileInfo::exists(path("empty.ini")));
    EXPECT_EQ(readFile(path("empty.ini")), "");
    tinidatasaver loaded;
    loaded.SetFileName(path("empty.ini"));
    EXPECT_TRUE(loaded.Load());
    EXPECT_EQ(loaded.Count(), 0);
}

TEST(IniSaver, StringsComeBackUnchanged) {
    const QString texts[] = {"",          "  leading and trailing  ", "say \"hi\"",      "\"",   "a|b|c",
                             "key=value", "; not a comment",          "[not a section]", "NONE", "Grüße, 日本語",
                             "\ttab"};
    for (const QString& text : texts) {
        tinidatasaver store;
        store.WriteString("Text", text);
        const QByteArray saved = saveText(store);
        tinidatasaver loaded;
        EXPECT_TRUE(loadText(loaded, saved));
        EXPECT_EQ(loaded.ReadString("Text", "<missing>"), text) << saved.toStdString();
    }
    tinidatasaver store;
    store.WriteString("Empty", "");
    EXPECT_EQ(saveText(store), "[Root]\r\nEmpty=STRING|\"\"\r\n\r\n");
}

TEST(IniSaver, LineBreaksInsideValuesCannotBreakTheLayout) {
    tinidatasaver store;
    store.WriteString("Text", "one\r\ntwo\nthree\rfour");
    store.WriteStringList("List", {"a\nPassword=STRING|\"x\""});
    store.WriteInteger("After", 1);
    const QByteArray saved = saveText(store);
    tinidatasaver loaded;
    EXPECT_TRUE(loadText(loaded, saved));
    EXPECT_EQ(loaded.ReadString("Text", ""), "one two three four");
    QStringList lines;
    EXPECT_TRUE(loaded.ReadStringList("List", lines));
    EXPECT_EQ(lines, QStringList{"a Password=STRING|\"x\""});
    EXPECT_EQ(loaded.Count(), 3);
}

TEST(IniSaver, ReadingFollowsTheLayoutRules) {
    struct Case {
        const char* label;
        QByteArray text;
        std::function<void(tinidatasaver&)> check;
    };
    const Case cases[] = {
        {"list lines are trimmed", "[Root]\nL=STRINGLIST\n[\\L]\ns1=  padded  \n",
         [](auto& s) {
             QStringList lines;
             EXPECT_TRUE(s.ReadStringList("L", lines));
             EXPECT_EQ(lines, QStringList{"padded"});
         }},
        {"list keys play no part", "[Root]\nL=STRINGLIST\n[\\l]\nzz=b\na=a\ns1=\n",
         [](auto& s) {
             QStringList lines;
             EXPECT_TRUE(s.ReadStringList("L", lines));
             EXPECT_EQ(lines, QStringList({"b", "a", ""}));
         }},
        {"NONE is skipped", "[Root]\nA=NONE\nB=INTEGER|1\n", [](auto& s) { EXPECT_EQ(s.Count(), 1); }},
        {"tags and names without case", "[ROOT]\nport=integer|5\nT=String|x\n",
         [](auto& s) {
             EXPECT_EQ(s.ReadInteger("Port", 0), 5);
             EXPECT_EQ(s.ReadString("t", ""), "x");
         }},
        {"comments and lines before a section",
         "A=INTEGER|1\n; c=INTEGER|2\n[Root]\n;B=INTEGER|3\nC=INTEGER|4\nloose\n",
         [](auto& s) {
             EXPECT_EQ(s.Count(), 1);
             EXPECT_EQ(s.ReadInteger("C", 0), 4);
         }},
        {"mixed line breaks and blanks", "\xEF\xBB\xBF  [ Root ]  \r\n  A = INTEGER | -7 \rB=FLOAT|1E20\r\n",
         [](auto& s) {
             EXPECT_EQ(s.ReadInteger("A", 0), -7);
             EXPECT_EQ(s.ReadFloat("B", 0), 1e20);
         }},
        {"empty list and folder", "[Root]\nF=FOLDER\nL=STRINGLIST\n",
         [](auto& s) {
             QStringList lines{"x"};
             EXPECT_TRUE(s.ReadStringList("L", lines));
             EXPECT_TRUE(lines.isEmpty());
             ASSERT_NE(s.FindFolder("F"), nullptr);
             EXPECT_EQ(s.FindFolder("F")->Count(), 0);
         }},
        {"a key with a backslash lands in a folder", "[Root]\nA\\B=INTEGER|3\n",
         [](auto& s) { EXPECT_EQ(s.ReadInteger("A\\B", 0), 3); }},
        {"tokens after the value are ignored", "[Root]\nS=STRING|\"a\" extra\n",
         [](auto& s) { EXPECT_EQ(s.ReadString("S", ""), "a"); }},
        {"an open quote runs to the end", "[Root]\nS=STRING|\"a|b\n",
         [](auto& s) { EXPECT_EQ(s.ReadString("S", ""), "a|b"); }},
        {"a bar at the end gives an empty token", "[Root]\nS=STRING|\n",
         [](auto& s) { EXPECT_EQ(s.ReadString("S", "x"), ""); }},
        {"a NUL ends the value", QByteArray("[Root]\nS=STRING|ab\0cd\n", 21),
         [](auto& s) { EXPECT_EQ(s.ReadString("S", ""), "ab"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tinidatasaver store;
        EXPECT_TRUE(loadText(store, c.text));
        c.check(store);
    }
}

TEST(IniSaver, ManyKeysInAnyOrderLoadWholeAndTheFirstLineOfARepeatedKeyWins) {
    constexpr int Keys = 50'000;
    const auto name = [](int i) { return "K" + QByteArray::number(i).rightJustified(5, '0'); };
    const auto isList = [](int i) { return i % 10 == 0; };
    QByteArray text = "[Root]\r\n";
    QByteArray lists;
    for (int i = Keys - 1; i >= 0; --i) {
        text += name(i) + (isList(i) ? "=STRINGLIST\r\n" : "=INTEGER|" + QByteArray::number(i) + "\r\n");
        if (isList(i)) {
            lists += "[\\" + name(i).toLower() + "]\r\ns1=line " + QByteArray::number(i) + "\r\n";
        }
    }
    for (int i = 0; i < Keys; ++i) {
        text += name(i).toLower() + "=INTEGER|-1\r\n";
    }
    QByteArray expected = "[Root]\r\n";
    QByteArray expectedLists;
    for (int i = 0; i < Keys; ++i) {
        expected += name(i) + (isList(i) ? "=STRINGLIST\r\n" : "=INTEGER|" + QByteArray::number(i) + "\r\n");
        if (isList(i)) {
            expectedLists += "[\\" + name(i) + "]\r\ns1=line " + QByteArray::number(i) + "\r\n\r\n";
        }
    }
    tinidatasaver store;
    EXPECT_TRUE(loadText(store, text + lists));
    EXPECT_EQ(store.Count(), Keys);
    EXPECT_TRUE(saveText(store) == expected + "\r\n" + expectedLists) << "values, order and spelling as saved";
}

TEST(IniSaver, LoadAddsToTheStoreAndOverwritesSameNames) {
    tinidatasaver store;
    store.WriteInteger("A", 1);
    store.WriteInteger("Kept", 9);
    EXPECT_TRUE(loadText(store, "[Root]\nA=INTEGER|2\nNew=STRING|n\n"));
    EXPECT_EQ(store.ReadInteger("A", 0), 2);
    EXPECT_EQ(store.ReadInteger("Kept", 0), 9);
    EXPECT_EQ(store.ReadString("New", ""), "n");
}

TEST(IniSaver, MalformedValuesRaiseTheirMessages) {
    struct Case {
        QByteArray line;
        const char* message;
    };
    const Case cases[] = {
        {"V=INTEGER|x1", "'x1' is not a valid integer value"},
        {"V=INTEGER|99999999999", "'99999999999' is not a valid integer value"},
        {"V=FLOAT|2,5", "'2,5' is not a valid floating point value"},
        {"V=", "List index out of bounds (0)"},
        {"V=INTEGER", "List index out of bounds (1)"},
        {"V=FLOAT", "List index out of bounds (1)"},
        {"V=STRING", "List index out of bounds (1)"},
        {"Taken=INTEGER|1", "It's not a integer \"Taken\""},
        {"Taken=FOLDER", "String list does not allow duplicates"},
    };
    for (const Case& c : cases) {
        tinidatasaver store;
        store.WriteString("Taken", "text");
        EXPECT_EQ(errorOf([&] { loadText(store, "[Root]\nA=INTEGER|1\n" + c.line + "\nZ=INTEGER|1\n"); }), c.message)
            << c.line.toStdString();
        EXPECT_EQ(store.ReadInteger("A", 0), 1) << "values read before stay";
        EXPECT_EQ(store.ReadInteger("Z", 0), 0) << "loading stops at the error";
    }
}

TEST(IniSaver, UnknownTypeTagsAreShownAndTheRestIsRead) {
    CapturedMessages shown;
    tinidatasaver store;
    EXPECT_FALSE(loadText(store, "[Root]\nA=none\nB=INTEGER|2\nC=Bogus|1\n"));
    EXPECT_EQ(shown.messages, QStringList({"Unknown type 'none'", "Unknown type 'Bogus'"}));
    EXPECT_EQ(store.ReadInteger("B", 0), 2);
}

TEST(IniSaver, UnknownTypeCodesAreShownAndTheRestIsWritten) {
    CapturedMessages shown;
    tinidatasaver store;
    store.WriteInteger("A", 1);
    store.AddEntry("Weird", DataType(9));
    store.WriteInteger("Z", 2);
    bool result = true;
    EXPECT_EQ(saveText(store, &result), "[Root]\r\nA=INTEGER|1\r\nZ=INTEGER|2\r\n\r\n");
    EXPECT_FALSE(result);
    EXPECT_EQ(shown.messages, QStringList{"Unknown vaiable type \"Weird\""});
}

TEST(IniSaver, NestedFoldersAndListsGetSectionsDepthFirst) {
    tinidatasaver store;
    store.WriteInteger("Top\\Sub\\Deep", 1);
    store.WriteStringList("Top\\Lines", {"x"});
    store.WriteInteger("Top\\A", 2);
    store.WriteFloat("Zed", 0.1);
    store.WriteFloat("Big", -1.5e300);
    store.WriteFloat("Tiny", 2e-7);
    const QByteArray expected = "[Root]\r\n"
                                "Big=FLOAT|-1.5E300\r\n"
                                "Tiny=FLOAT|2E-7\r\n"
                                "Top=FOLDER\r\n"
                                "Zed=FLOAT|0.1\r\n"
                                "\r\n"
                                "[Top]\r\n"
                                "A=INTEGER|2\r\n"
                                "Lines=STRINGLIST\r\n"
                                "Sub=FOLDER\r\n"
                                "\r\n"
                                "[Top\\Lines]\r\n"
                                "s1=x\r\n"
                                "\r\n"
                                "[Top\\Sub]\r\n"
                                "Deep=INTEGER|1\r\n"
                                "\r\n";
    EXPECT_EQ(saveText(store), expected);
    tinidatasaver loaded;
    EXPECT_TRUE(loadText(loaded, expected));
    EXPECT_EQ(saveText(loaded), expected);
    EXPECT_EQ(loaded.ReadFloat("Tiny", 0), 2e-7);
}

TEST(IniSaver, StreamOperationsRefuseANestedStore) {
    tinidatasaver store;
    store.WriteInteger("Options\\A", 1);
    saveText(store); // the walk gives the folder its depth
    auto* nested = dynamic_cast<tinidatasaver*>(store.FindFolder("Options"));
    ASSERT_NE(nested, nullptr);
    bool result = true;
    EXPECT_EQ(saveText(*nested, &result), "");
    EXPECT_FALSE(result);
    EXPECT_FALSE(loadText(*nested, "[Options]\nB=INTEGER|2\n"));
    EXPECT_EQ(nested->Count(), 1);
}

} // namespace
