#include "platform/storage/streamstate.h"

#include <algorithm>
#include <cstring>

#include "platform/storage/cfbreader.h"
#include "platform/util/uassert.h"

namespace tq {

StreamContent StreamContent::Empty() {
    StreamContent c;
    c.exists_ = true;
    return c;
}

StreamContent StreamContent::Committed(std::shared_ptr<CfbReader> base, std::string name,
                                       uint32_t size) {
    StreamContent c;
    c.exists_ = true;
    c.base_ = std::move(base);
    c.baseName_ = std::move(name);
    c.baseLimit_ = size;
    c.size_ = size;
    return c;
}

void StreamContent::read(uint32_t offset, void* out, size_t n, bool checked) const {
    TQ_ASSERT(offset <= size_ && n <= size_ - offset, "read within stream");
    auto* dest = static_cast<uint8_t*>(out);
    const uint64_t end = static_cast<uint64_t>(offset) + n;
    uint64_t pos = offset;
    while (pos < end) {
        const auto index = static_cast<uint32_t>(pos / kPageSize);
        const auto next = pages_.lower_bound(index);
        if (next != pages_.end() && next->first == index) {
            const uint32_t inPage = pos % kPageSize;
            const size_t chunk = std::min<uint64_t>(end - pos, kPageSize - inPage);
            std::memcpy(dest, next->second->data() + inPage, chunk);
            dest += chunk;
            pos += chunk;
            continue;
        }
        // A run of pages that are not in the overlay: committed bytes up to
        // baseLimit, zeros after, in one read from the file.
        const uint64_t runEnd =
            next == pages_.end() ? end
                                 : std::min<uint64_t>(end, uint64_t{next->first} * kPageSize);
        const uint64_t fromBase = pos < baseLimit_ ? std::min<uint64_t>(runEnd, baseLimit_) : pos;
        if (fromBase > pos) {
            if (checked) base_->read(baseName_, static_cast<uint32_t>(pos), dest, fromBase - pos);
            else base_->peek(baseName_, static_cast<uint32_t>(pos), dest, fromBase - pos);
            dest += fromBase - pos;
        }
        std::memset(dest, 0, runEnd - fromBase);
        dest += runEnd - fromBase;
        pos = runEnd;
    }
}

StreamContent::Page& StreamContent::writablePage(uint32_t index) {
    auto it = pages_.find(index);
    if (it != pages_.end()) {
        if (it->second.use_count() > 1) it->second = std::make_shared<Page>(*it->second);
        return *it->second;
    }
    auto page = std::make_shared<Page>();  // zero-filled
    const uint64_t start = uint64_t{index} * kPageSize;
    if (start < baseLimit_) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(kPageSize, baseLimit_ - start));
        base_->read(baseName_, static_cast<uint32_t>(start), page->data(), n);
    }
    return *pages_.emplace(index, std::move(page)).first->second;
}

void StreamContent::write(uint32_t offset, const void* data, size_t n) {
    const uint64_t end = static_cast<uint64_t>(offset) + n;
    TQ_ASSERT(end <= UINT32_MAX, "write within 4 GiB");
    if (offset > size_) setSize(offset);
    const auto* src = static_cast<const uint8_t*>(data);
    for (uint64_t pos = offset; pos < end;) {
        const auto index = static_cast<uint32_t>(pos / kPageSize);
        const uint32_t inPage = pos % kPageSize;
        const size_t chunk = std::min<uint64_t>(end - pos, kPageSize - inPage);
        Page* page;
        if (chunk == kPageSize) {
            // A whole page: its old bytes do not matter.
            auto& slot = pages_[index];
            if (!slot || slot.use_count() > 1) slot = std::make_shared<Page>();
            page = slot.get();
        } else {
            page = &writablePage(index);
        }
        std::memcpy(page->data() + inPage, src, chunk);
        src += chunk;
        pos += chunk;
    }
    size_ = std::max<uint32_t>(size_, static_cast<uint32_t>(end));
}

void StreamContent::setSize(uint32_t n) {
    if (n >= size_) {
        size_ = n;
        return;
    }
    baseLimit_ = std::min(baseLimit_, n);
    const uint32_t firstGone = n / kPageSize + (n % kPageSize != 0 ? 1 : 0);
    pages_.erase(pages_.lower_bound(firstGone), pages_.end());
    if (n % kPageSize != 0) {
        auto it = pages_.find(n / kPageSize);
        if (it != pages_.end()) {
            Page& page = writablePage(it->first);
            std::memset(page.data() + n % kPageSize, 0, kPageSize - n % kPageSize);
        }
    }
    size_ = n;
}

std::vector<std::pair<uint32_t, uint32_t>> StreamContent::changedRanges() const {
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    const auto add = [&ranges](uint32_t from, uint32_t to) {
        if (from >= to) return;
        if (!ranges.empty() && ranges.back().second >= from)
            ranges.back().second = std::max(ranges.back().second, to);
        else
            ranges.emplace_back(from, to);
    };
    for (const auto& [index, page] : pages_) {
        const uint64_t start = uint64_t{index} * kPageSize;
        if (start >= baseLimit_) break;
        add(static_cast<uint32_t>(start),
            static_cast<uint32_t>(std::min<uint64_t>(start + kPageSize, baseLimit_)));
    }
    add(baseLimit_, size_);
    return ranges;
}

void StreamContent::rebase(const std::shared_ptr<CfbReader>& from,
                           const std::shared_ptr<CfbReader>& to) {
    if (base_ && base_ == from) base_ = to;
}

}  // namespace tq
