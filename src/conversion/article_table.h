#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "conversion/entry_type.h"

namespace vorlund {

// The records of one conversion run. Summing: one record per code with the
// sum of its quantities, handed out in unsigned byte order of the codes.
// Listing: every record, in arrival order.
class ArticleTable {
  public:
    // Returns false to end the walk early.
    using Visitor = std::function<bool(std::string_view code, Extended quantity)>;

    explicit ArticleTable(bool aggregation) : aggregation_(aggregation) {}

    void AddEntry(entrytype record);
    // False when the visitor ended the walk.
    bool ForEachEntry(const Visitor& visitor) const;

  private:
    bool aggregation_;
    // std::string compares through char_traits<char>, which orders bytes as
    // unsigned values: exactly the code order, with no collation.
    std::map<std::string, Extended> sums_;
    // Finds a known code's sum without walking the tree: deliveries repeat
    // few codes over many lines. Keys view the tree's own keys, whose nodes
    // never move.
    std::unordered_map<std::string_view, Extended*> index_;
    std::vector<entrytype> arrivals_;
};

}  // namespace vorlund
