#pragma once
// The arithmetic of a run's progress window when several entries convert at once: the whole run is the
// finished entries plus the fractions of the running ones; the file line follows the first running entry.

#include <cstddef>
#include <map>
#include <optional>

namespace pelloran {

class RunTally {
public:
    explicit RunTally(size_t count) : count_(count) {}

    void Started(size_t entry) { running_[entry] = 0.0; }
    // fraction 0..1 of a running entry; ignored for one not running.
    void Progress(size_t entry, double fraction);
    // The entry's final status is set (also one that never started).
    void Finished(size_t entry);

    // The whole run, 0..1.
    double Overall() const;
    // The first running entry in run order, which the file line shows.
    std::optional<size_t> Lead() const;
    double Fraction(size_t entry) const;
    size_t Running() const { return running_.size(); }
    size_t FinishedCount() const { return finished_; }

private:
    size_t count_;
    size_t finished_ = 0;
    std::map<size_t, double> running_;
};

}  // namespace pelloran
