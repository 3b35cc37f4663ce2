#include "conversion/article_table.h"

namespace vorlund {

void ArticleTable::AddEntry(entrytype record) {
    if (!aggregation_) {
        arrivals_.push_back(std::move(record));
        return;
    }
    if (const auto known = index_.find(record.code); known != index_.end()) {
        *known->second += record.quantity;
        return;
    }
    const auto node = sums_.try_emplace(std::move(record.code), record.quantity).first;
    index_.emplace(node->first, &node->second);
}

bool ArticleTable::ForEachEntry(const Visitor& visitor) const {
    if (aggregation_) {
        for (const auto& [code, sum] : sums_) {
            if (!visitor(code, sum))
                return false;
        }
    } else {
        for (const entrytype& record : arrivals_) {
            if (!visitor(record.code, record.quantity))
                return false;
        }
    }
    return true;
}

}  // namespace vorlund
