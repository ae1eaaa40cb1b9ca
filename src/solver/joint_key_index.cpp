#include "solver/joint_key_index.h"

#include "solver/frontier.h"

namespace tamrik {
namespace {

uint64_t Mix(uint64_t key) {
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdULL;
    key ^= key >> 33;
    key *= 0xc4ceb9fe1a85ec53ULL;
    return key ^ (key >> 33);
}

}  // namespace

bool JointKeyIndex::Pack(const std::vector<int64_t>& positions, uint64_t& key) {
    if (positions.size() > 8) return false;
    key = 0;
    for (int64_t position : positions) {
        if (position < 0 || position > 255) return false;
        key = (key << 8) | static_cast<uint64_t>(position);
    }
    // The agent count goes into the key too, so (0) and (0, 0) differ; it never makes the
    // key equal to kEmpty, whose top byte would have to be 0xFF with eight agents.
    key ^= static_cast<uint64_t>(positions.size()) << 56;
    return key != kEmpty;
}

JointKeyIndex::Slot& JointKeyIndex::Probe(uint64_t key) {
    size_t mask = slots_.size() - 1;
    for (size_t at = Mix(key) & mask;; at = (at + 1) & mask) {
        if (slots_[at].key == key || slots_[at].key == kEmpty) return slots_[at];
    }
}

void JointKeyIndex::Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
    for (const Slot& slot : old) {
        if (slot.key != kEmpty) Probe(slot.key) = slot;
    }
}

const uint64_t* JointKeyIndex::Find(const std::vector<int64_t>& positions) {
    uint64_t key;
    if (Pack(positions, key)) {
        if (slots_.empty()) return nullptr;
        const Slot& slot = Probe(key);
        return slot.key == key ? &slot.number : nullptr;
    }
    JointPositionKey(positions, text_);
    auto found = by_text_.find(text_);
    return found == by_text_.end() ? nullptr : &found->second;
}

void JointKeyIndex::Insert(const std::vector<int64_t>& positions, uint64_t number) {
    uint64_t key;
    if (Pack(positions, key)) {
        if ((packed_count_ + 1) * 2 > slots_.size()) Grow();  // keep the table at most half full
        Slot& slot = Probe(key);
        if (slot.key == kEmpty) ++packed_count_;
        slot = Slot{key, number};
        return;
    }
    JointPositionKey(positions, text_);
    by_text_.emplace(text_, number);
}

}  // namespace tamrik
