#include "net/AEventItem.h"

#include <utility>

namespace ornbrook {

AEventItem::~AEventItem() {
    // Releases the items only this chain holds one at a time, instead of each
    // destructor releasing the next inside itself.
    auto next = std::move(NextItem);
    while (next && next.use_count() == 1)
        next = std::move(next->NextItem);
}

void AEventItem::Cancel() {
    std::vector<std::shared_ptr<AEventItem>> chain;
    for (auto next = std::move(NextItem); next;) {
        auto after = std::move(next->NextItem);
        chain.push_back(std::move(next));
        next = std::move(after);
    }
    while (!chain.empty())
        chain.pop_back();
}

AEventItem& AEventItem::GetLastItem() {
    AEventItem* item = this;
    while (item->NextItem)
        item = item->NextItem.get();
    return *item;
}

std::int32_t AEventItem::GetCount() const {
    std::int32_t count = 1;
    for (const AEventItem* item = NextItem.get(); item != nullptr; item = item->NextItem.get())
        ++count;
    return count;
}

} // namespace ornbrook
