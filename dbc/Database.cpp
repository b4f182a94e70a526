#include "Database.h"

#include <algorithm>

namespace dbc {

namespace {
constexpr std::size_t StandardIds = 0x800;
}

std::string_view Signal::LabelOf(int64_t raw) const {
    const auto at = std::lower_bound(labels.begin(), labels.end(), raw,
                                     [](const ValueLabel &l, int64_t r) { return l.raw < r; });
    if (at == labels.end() || at->raw != raw) return {};
    return at->text;
}

const Message *Database::Find(uint32_t id, bool extended) const {
    if (!extended) {
        if (id >= standard_.size()) return nullptr;
        const int32_t i = standard_[id];
        return i < 0 ? nullptr : &messages[static_cast<std::size_t>(i)];
    }
    const auto at = std::lower_bound(extended_.begin(), extended_.end(), id,
                                     [](const ExtendedEntry &e, uint32_t v) { return e.id < v; });
    if (at == extended_.end() || at->id != id) return nullptr;
    return &messages[static_cast<std::size_t>(at->index)];
}

void Database::Index() {
    standard_.assign(StandardIds, -1);
    extended_.clear();
    mostSignals_ = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const Message &m = messages[i];
        mostSignals_ = std::max(mostSignals_, m.signalList.size());
        if (m.extended)
            extended_.push_back({m.id, static_cast<int32_t>(i)});
        else if (m.id < StandardIds)
            standard_[m.id] = static_cast<int32_t>(i);
    }
    std::sort(extended_.begin(), extended_.end(),
              [](const ExtendedEntry &a, const ExtendedEntry &b) { return a.id < b.id; });
}

}  // namespace dbc
