#pragma once

#include <functional>
#include <vector>

#include "sync/ListOfFiles.h"

namespace engine {

// One thing a pass will do: the file at `index` of the walked list, and the
// same file's index in the other list (-1 when that side lacks it).
struct PlannedAction {
    int index = -1;
    int match = -1;
    friend bool operator==(const PlannedAction&, const PlannedAction&) = default;
};

// Whether the walked file at index needs the pass's action, given its match.
using PassDecision =
    std::function<bool(const TListOfFiles& walked, int index, const TListOfFiles& searched, int match)>;

// What a pass will do, in the walked list's order: the two lists in, the
// actions out. Deciding first lets the actions run on several connections
// while the log and the summary stay what one connection would give.
std::vector<PlannedAction> planPass(const TListOfFiles& walked, const TListOfFiles& searched,
                                    const PassDecision& decide);

} // namespace engine
