#include "sync/Plan.h"

#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace {

using engine::PlannedAction;

void fill(TListOfFiles& list, const QStringList& names) {
    for (const QString& name : names)
        list.Add(relativeName(name));
}

bool everyFile(const TListOfFiles&, int, const TListOfFiles&, int) {
    return true;
}

bool onlyMissing(const TListOfFiles&, int, const TListOfFiles&, int match) {
    return match < 0;
}

struct PlanCase {
    const char* what;
    QStringList walked;
    QStringList searched;
    engine::PassDecision decide;
    std::vector<PlannedAction> expected;
};

// The plan follows the walked list's order, finds the other side's file by
// the lists' own name rule (case and accent forms fold together), takes the
// first of duplicates, and gives -1 where the other side lacks the file.
TEST(PlanPass, OrderAndMatchesFollowTheListsRules) {
    const std::vector<PlanCase> cases = {
        {"walked order, not the searched one",
         {"b.txt", "a.txt", "c.txt"},
         {"c.txt", "a.txt", "b.txt"},
         everyFile,
         {{0, 2}, {1, 1}, {2, 0}}},
        {"case and accent forms",
         {"Caf\u00e9\\MENU.txt", "README"},
         {"readme", "cafe\u0301\\menu.TXT"},
         everyFile,
         {{0, 1}, {1, 0}}},
        {"first of duplicates", {"a.txt", "A.TXT"}, {"x", "A.txt", "a.txt"}, everyFile, {{0, 1}, {1, 1}}},
        {"missing on the other side", {"a.txt", "sub\\a.txt"}, {"a.txt"}, everyFile, {{0, 0}, {1, -1}}},
        {"the decision picks", {"a", "b", "c"}, {"b"}, onlyMissing, {{0, -1}, {2, -1}}},
        {"nothing walked", {}, {"a"}, everyFile, {}},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.what);
        TListOfFiles walked, searched;
        fill(walked, c.walked);
        fill(searched, c.searched);
        EXPECT_EQ(engine::planPass(walked, searched, c.decide), c.expected);
    }
}

} // namespace
