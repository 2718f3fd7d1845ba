#include "gui/window/RunTally.h"

#include <algorithm>

namespace pelloran {

void RunTally::Progress(size_t entry, double fraction) {
    const auto it = running_.find(entry);
    if (it != running_.end()) it->second = std::clamp(fraction, 0.0, 1.0);
}

void RunTally::Finished(size_t entry) {
    running_.erase(entry);
    finished_ = std::min(finished_ + 1, count_);
}

double RunTally::Overall() const {
    if (count_ == 0) return 1.0;
    double done = static_cast<double>(finished_);
    for (const auto& [entry, fraction] : running_) done += fraction;
    return std::clamp(done / static_cast<double>(count_), 0.0, 1.0);
}

std::optional<size_t> RunTally::Lead() const {
    if (running_.empty()) return std::nullopt;
    return running_.begin()->first;
}

double RunTally::Fraction(size_t entry) const {
    const auto it = running_.find(entry);
    return it == running_.end() ? 0.0 : it->second;
}

}  // namespace pelloran
