#include "solver/open_list.h"

#include <algorithm>
#include <functional>
#include <limits>

namespace tamrik {
namespace {

// Runs split in two when they outgrow this; small enough that an insertion's shift stays
// cheap, large enough that the array of run ends stays small.
constexpr size_t kMaxRun = 128;

}  // namespace

OpenList::Iterator& OpenList::Iterator::operator++() {
    if (++pos_ == list_->chunks_[chunk_].size()) {
        ++chunk_;
        pos_ = 0;
    }
    return *this;
}

size_t OpenList::RunFor(const Entry& entry) const {
    return static_cast<size_t>(std::lower_bound(lasts_.begin(), lasts_.end(), entry) -
                               lasts_.begin());
}

void OpenList::DropRun(size_t run) {
    chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(run));
    lasts_.erase(lasts_.begin() + static_cast<std::ptrdiff_t>(run));
}

bool OpenList::insert(const Entry& entry) {
    if (chunks_.empty()) {
        chunks_.push_back({entry});
        lasts_.push_back(entry);
        size_ = 1;
        return true;
    }
    size_t run = std::min(RunFor(entry), chunks_.size() - 1);
    std::vector<Entry>& chunk = chunks_[run];
    auto at = std::lower_bound(chunk.begin(), chunk.end(), entry);
    if (at != chunk.end() && *at == entry) return false;
    chunk.insert(at, entry);
    lasts_[run] = chunk.back();
    ++size_;
    if (chunk.size() > kMaxRun) {
        std::vector<Entry> upper(chunk.begin() + kMaxRun / 2, chunk.end());
        chunk.resize(kMaxRun / 2);
        lasts_[run] = chunk.back();
        Entry upper_last = upper.back();
        chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(run) + 1, std::move(upper));
        lasts_.insert(lasts_.begin() + static_cast<std::ptrdiff_t>(run) + 1, upper_last);
    }
    return true;
}

void OpenList::InsertPending(const Entry& entry) {
    pending_.push_back(entry);
    std::push_heap(pending_.begin(), pending_.end(), std::greater<>());
}

void OpenList::AdmitUpTo(double bound) {
    while (!pending_.empty() && pending_.front().first <= bound) {
        std::pop_heap(pending_.begin(), pending_.end(), std::greater<>());
        insert(pending_.back());
        pending_.pop_back();
    }
}

OpenList::Entry OpenList::Front() const {
    if (chunks_.empty()) return pending_.front();
    if (pending_.empty()) return chunks_.front().front();
    return std::min(chunks_.front().front(), pending_.front());
}

size_t OpenList::erase(const Entry& entry) {
    size_t run = RunFor(entry);
    if (run == chunks_.size()) return 0;
    std::vector<Entry>& chunk = chunks_[run];
    auto at = std::lower_bound(chunk.begin(), chunk.end(), entry);
    if (at == chunk.end() || *at != entry) return 0;
    chunk.erase(at);
    --size_;
    if (chunk.empty()) {
        DropRun(run);
    } else {
        lasts_[run] = chunk.back();
    }
    return 1;
}

OpenList::Iterator OpenList::upper_bound(const Entry& entry) const {
    size_t run = static_cast<size_t>(std::upper_bound(lasts_.begin(), lasts_.end(), entry) -
                                     lasts_.begin());
    if (run == chunks_.size()) return end();
    const std::vector<Entry>& chunk = chunks_[run];
    size_t pos = static_cast<size_t>(std::upper_bound(chunk.begin(), chunk.end(), entry) -
                                     chunk.begin());
    return Iterator(this, run, pos);
}

void OpenList::EraseAbove(double limit) {
    Entry bound{limit, std::numeric_limits<int64_t>::max()};
    if (std::erase_if(pending_, [&bound](const Entry& e) { return bound < e; }) > 0) {
        std::make_heap(pending_.begin(), pending_.end(), std::greater<>());
    }
    size_t run = static_cast<size_t>(std::upper_bound(lasts_.begin(), lasts_.end(), bound) -
                                     lasts_.begin());
    for (size_t later = run; later < chunks_.size(); ++later) size_ -= chunks_[later].size();
    if (run == chunks_.size()) return;
    std::vector<Entry>& chunk = chunks_[run];
    auto cut = std::upper_bound(chunk.begin(), chunk.end(), bound);
    size_ += static_cast<size_t>(cut - chunk.begin());
    chunk.erase(cut, chunk.end());
    size_t keep = chunk.empty() ? run : run + 1;
    if (!chunk.empty()) lasts_[run] = chunk.back();
    chunks_.resize(keep);
    lasts_.resize(keep);
}

}  // namespace tamrik
