#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tamrik {

// Maps the joint position of all agents (their current vertices, in agent order) to a
// frontier number. Up to eight agents on vertices below 256 pack into one 64-bit key held in
// an open-addressing table (one probe sequence in one array); other joint positions use their
// text key ("3_0_12_") in a hash map.
class JointKeyIndex {
public:
    // The number stored for the joint position, or nullptr.
    const uint64_t* Find(const std::vector<int64_t>& positions);
    // Stores `number` for a joint position that has none yet.
    void Insert(const std::vector<int64_t>& positions, uint64_t number);
    size_t size() const { return packed_count_ + by_text_.size(); }

private:
    static constexpr uint64_t kEmpty = ~uint64_t{0};
    struct Slot {
        uint64_t key = kEmpty;
        uint64_t number = 0;
    };

    // Packs the positions into `key`; false when they do not fit.
    static bool Pack(const std::vector<int64_t>& positions, uint64_t& key);
    Slot& Probe(uint64_t key);
    void Grow();

    std::vector<Slot> slots_;
    size_t packed_count_ = 0;
    std::unordered_map<std::string, uint64_t> by_text_;
    std::string text_;
};

}  // namespace tamrik
