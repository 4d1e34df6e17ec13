#include "model/BaseSaver.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"
#include "support/TestFiles.h"

#include <functional>
#include <ostream>

#include "model/Errors.h"
#include "model/IniSaver.h"

namespace {

TEST(BaseSaver, NamesAreFoundWithoutRegardToCaseAndKeepTheirSpelling) {
    tinidatasaver store;
    store.WriteInteger("Port", 1);
    EXPECT_EQ(store.ReadInteger("PORT", 0), 1);
    store.WriteInteger("port", 2);
    EXPECT_EQ(store.Count(), 1);
    EXPECT_EQ(store.GetEntryName(0), "Port");
    EXPECT_EQ(store.ReadInteger("Port", 0), 2);
    EXPECT_EQ(store.ReadInteger("Missing", 42), 42);
}

TEST(BaseSaver, EntriesAreKeptInNameOrderWithoutRegardToCase) {
    tinidatasaver store;
    for (const char* name : {"UserName", "Caption", "exact", "ExcludeMasks", "Port", "ProxyKind", "Passive"}) {
        store.WriteInteger(name, 0);
    }
    QStringList names;
    for (int i = 0; i < store.Count(); ++i) {
        names << store.GetEntryName(i);
    }
    EXPECT_EQ(names, QStringList({"Caption", "exact", "ExcludeMasks", "Passive", "Port", "ProxyKind", "UserName"}));
}

struct TypeErrorCase {
    const char* label;
    DataType existing;
    std::function<void(TBaseDataSaver&)> action;
    const char* message;
};

void PrintTo(const TypeErrorCase& c, std::ostream* out) {
    *out << c.label;
}

class TypeErrorTest : public ::testing::TestWithParam<TypeErrorCase> {};

TEST_P(TypeErrorTest, EachOperationRaisesItsOwnMessageAndLeavesTheEntry) {
    tinidatasaver store;
    store.AddEntry("Key", GetParam().existing);
    if (GetParam().existing == DataType::String) {
        store.PutString("Key", "kept");
    }
    EXPECT_EQ(errorOf([&] { GetParam().action(store); }), GetParam().message);
    EXPECT_EQ(store.Count(), 1);
    EXPECT_EQ(store.GetEntryType(0), GetParam().existing);
    if (GetParam().existing == DataType::String) {
        EXPECT_EQ(store.GetString("Key", ""), "kept");
    }
}

const TypeErrorCase typeErrorCases[] = {
    {"ReadInteger", DataType::Float, [](auto& s) { s.ReadInteger("Key", 0); }, "It's not an integer \"Key\""},
    {"GetInteger", DataType::String, [](auto& s) { s.GetInteger("Key", 0); }, "It's not an integer \"Key\""},
    {"WriteInteger", DataType::String, [](auto& s) { s.WriteInteger("Key", 1); }, "It's not a integer \"Key\""},
    {"ReadFloat", DataType::Integer, [](auto& s) { s.ReadFloat("Key", 0); }, "It's not a float \"Key\""},
    {"WriteFloat", DataType::String, [](auto& s) { s.WriteFloat("Key", 1); }, "It's not a float \"Key\""},
    {"ReadString", DataType::Integer, [](auto& s) { s.ReadString("Key", ""); }, "It's not a string \"Key\""},
    {"WriteString", DataType::Folder, [](auto& s) { s.WriteString("Key", "x"); }, "It's not a string \"Key\""},
    {"ReadStringList", DataType::String,
     [](auto& s) {
         QStringList list;
         s.ReadStringList("Key", list);
     },
     "It's not a string list \"Key\""},
    {"WriteStringList", DataType::Integer, [](auto& s) { s.WriteStringList("Key", {"a"}); },
     "It's not a stringList \"Key\""},
    {"AddEntry", DataType::Integer, [](auto& s) { s.AddEntry("KEY", DataType::Float); },
     "String list does not allow duplicates"},
    {"AddFolder", DataType::String, [](auto& s) { s.AddFolder("key"); }, "String list does not allow duplicates"},
    {"WriteThroughValue", DataType::String, [](auto& s) { s.WriteString("Key\\B\\Name", "x"); },
     "Cannot write \"Key\\B\\Name\""},
    {"GetWithBackslash", DataType::Integer, [](auto& s) { s.GetInteger("A\\Key", 0); }, "Invalid name \"A\\Key\""},
    {"PutWithBackslash", DataType::Integer, [](auto& s) { s.PutString("A\\Key", "x"); }, "Invalid name \"A\\Key\""},
    {"AddWithBackslash", DataType::Integer, [](auto& s) { s.AddEntry("\\Key", DataType::Integer); },
     "Invalid name \"\\Key\""},
};

INSTANTIATE_TEST_SUITE_P(Messages, TypeErrorTest, ::testing::ValuesIn(typeErrorCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(BaseSaver, PathReadsGiveTheDefaultWhenAFolderIsMissingOrNotAFolder) {
    tinidatasaver store;
    EXPECT_EQ(store.ReadString("A\\B\\Key", "default"), "default");
    store.WriteString("A", "text");
    EXPECT_EQ(store.ReadString("A\\B\\Key", "default"), "default");
    EXPECT_EQ(store.FindFolder("A"), nullptr);
    EXPECT_EQ(store.OpenFolder("A\\B", true), nullptr) << "a value in the way is never replaced";
}

TEST(BaseSaver, PathWritesCreateTheMissingFolders) {
    tinidatasaver store;
    store.WriteString("A\\B\\Key", "value");
    store.WriteFloat("A\\Ratio", 2.5);
    EXPECT_EQ(store.Count(), 1);
    EXPECT_EQ(store.GetEntryType(0), DataType::Folder);
    TBaseDataSaver* b = store.FindFolder("a\\b\\");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->GetPath(), "A\\B");
    EXPECT_EQ(b->GetParent(), store.FindFolder("A"));
    EXPECT_EQ(b->GetString("KEY", ""), "value");
    EXPECT_EQ(store.ReadString("a\\B\\key", ""), "value");
    EXPECT_EQ(store.ReadFloat("A\\Ratio", 0), 2.5);
    EXPECT_EQ(store.FindFolder("A")->Count(), 2) << "B and Ratio; the values inside B are not counted";
    EXPECT_EQ(store.GetPath(), "");
    EXPECT_EQ(store.FindFolder(""), &store);
}

TEST(BaseSaver, FoldersNestAtMost64LevelsAndATooDeepPathCreatesNothing) {
    tinidatasaver store;
    store.WriteInteger(QString("A\\").repeated(64) + "x", 1);
    EXPECT_EQ(store.ReadInteger(QString("A\\").repeated(64) + "x", 0), 1);
    const QString tooDeep = QString("B\\").repeated(65) + "x";
    EXPECT_EQ(errorOf([&] { store.WriteInteger(tooDeep, 1); }),
              "Folder \"" + tooDeep.left(80) + "...\" would be nested more than 64 levels deep");
    EXPECT_EQ(store.Count(), 1);
    EXPECT_EQ(errorOf([&] { store.OpenFolder(QString("A\\").repeated(64), true)->AddFolder("C"); }),
              "Folder \"C\" would be nested more than 64 levels deep");
}

TEST(BaseSaver, StringListsAreCopiedInAndOut) {
    tinidatasaver store;
    QStringList list{"untouched"};
    EXPECT_FALSE(store.ReadStringList("Recent", list));
    EXPECT_EQ(list, QStringList{"untouched"});

    store.WriteStringList("Recent", {});
    EXPECT_TRUE(store.ReadStringList("Recent", list));
    EXPECT_TRUE(list.isEmpty());

    QStringList lines{"first", "second"};
    store.WriteStringList("Recent", lines);
    lines << "third"; // the store holds its own copy
    EXPECT_TRUE(store.ReadStringList("RECENT", list));
    EXPECT_EQ(list, QStringList({"first", "second"}));
    store.WriteStringList("Recent", {"only"});
    EXPECT_TRUE(store.ReadStringList("Recent", list));
    EXPECT_EQ(list, QStringList{"only"});
}

TEST(BaseSaver, FileNameReachesEveryNestedStoreAlsoLaterOnes) {
    tinidatasaver store;
    store.WriteInteger("Top\\Value", 1);
    store.SetFileName("/tmp/a.ini");
    EXPECT_EQ(store.FindFolder("Top")->GetFileName(), "/tmp/a.ini");
    store.WriteInteger("Top\\Sub\\Value", 1);
    store.AddFolder("Other");
    EXPECT_EQ(store.FindFolder("Top\\Sub")->GetFileName(), "/tmp/a.ini");
    EXPECT_EQ(store.FindFolder("Other")->GetFileName(), "/tmp/a.ini");
    EXPECT_EQ(store.FindFolder("Top\\Sub")->GetPath(), "Top\\Sub");
}

} // namespace
