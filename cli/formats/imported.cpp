#include "cli/formats/imported.h"

#include <algorithm>

namespace zrn::cli::formats {

int GroupAllocator::numberFor(const std::string& name, int wanted,
                              std::vector<std::string>& warnings) {
    if (wanted >= 1 && wanted <= 8) {
        for (Group& g : groups_) {
            if (g.number == wanted) {
                if (g.name.empty()) {
                    g.name = name;
                }
                return wanted;
            }
        }
        groups_.push_back({wanted, name});
        return wanted;
    }
    for (const Group& g : groups_) {
        if (g.name == name) {
            return g.number;
        }
    }
    for (int n = 1; n <= 8; ++n) {
        const bool taken = std::any_of(groups_.begin(), groups_.end(),
                                       [n](const Group& g) { return g.number == n; });
        if (!taken) {
            groups_.push_back({n, name});
            return n;
        }
    }
    warnings.push_back("group \"" + name + "\": a card has eight groups at most: dropped");
    return 0;
}

std::vector<Group> GroupAllocator::groups() const {
    std::vector<Group> sorted = groups_;
    std::sort(sorted.begin(), sorted.end(),
              [](const Group& a, const Group& b) { return a.number < b.number; });
    return sorted;
}

}  // namespace zrn::cli::formats
