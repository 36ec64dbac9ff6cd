#pragma once

#include <string>
#include <string_view>

namespace qz {

// How a reply holding several answer lines (several control units, or one answer over several
// lines) is folded into one line. Used as a value: `MultiResponseStrategy s =
// MultiResponseStrategy::bitwiseOr; s.process(reply);`. The index of a case is its number.
class MultiResponseStrategy {
  public:
    enum Case : int {
        bitwiseOr = 0,      // byte-wise OR of all lines of the widest token count
        largestValue = 1,   // the widest line whose bytes, read as one number, are largest
        smallestValue = 2,  // the same, smallest
        unchanged = 3,      // the reply as received
    };

    constexpr MultiResponseStrategy(Case c = bitwiseOr) : case_(c) {}
    constexpr operator Case() const { return case_; }
    constexpr int index() const { return case_; }

    // Folds `response`. Never fails: where no line qualifies the result is empty.
    std::string process(std::string_view response) const;

  private:
    Case case_;
};

}  // namespace qz
