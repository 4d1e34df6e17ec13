#include "sync/Plan.h"

namespace engine {

std::vector<PlannedAction> planPass(const TListOfFiles& walked, const TListOfFiles& searched,
                                    const PassDecision& decide) {
    const FileNameIndex searchedIndex(searched);
    std::vector<PlannedAction> plan;
    for (int i = 0; i < walked.Count(); ++i) {
        const int match = searchedIndex.IndexOf(walked.Strings(i));
        if (decide(walked, i, searched, match))
            plan.push_back({i, match});
    }
    return plan;
}

} // namespace engine
