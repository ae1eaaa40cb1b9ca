#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "records/search_records.h"
#include "solver/chunked_rows.h"

namespace tamrik {

// Every label of a search, by id, packed without per-label heap blocks: the fixed fields in one
// array of records and the per-agent sequences (positions, costs, finished flags) in flat
// tables of `agents` entries per label, all in fixed blocks that growth never moves. Labels are copied in and out whole; a slot never
// stored reads as an empty label (visited_size -1, every number 0).
class LabelPool {
public:
    explicit LabelPool(size_t agents = 0)
        : agents_(agents), positions_(agents), costs_(agents), finished_(agents) {}

    size_t size() const { return heads_.size(); }
    // Grows (or shrinks) to `slots` slots; new slots are empty.
    void resize(size_t slots);

    // Sequences longer than the pool's agent count are cut, shorter ones padded with zeros.
    void Store(int64_t id, const Label& label);
    // Fills `out`, reusing its storage.
    void Load(int64_t id, Label& out) const;
    Label Get(int64_t id) const {
        Label label;
        Load(id, label);
        return label;
    }

    int64_t LastAgent(int64_t id) const { return Head(id).last_agent; }
    int64_t Position(int64_t id, int64_t agent) const {
        return positions_.Row(static_cast<size_t>(id))[static_cast<size_t>(agent)];
    }

private:
    struct Record {
        VisitedSet visited{};
        double h = 0.0;
        double g = 0.0;
        double f = 0.0;
        int64_t id = 0;
        int64_t remaining_agents = 0;
        int64_t last_agent = 0;
        int32_t visited_size = -1;
    };
    const Record& Head(int64_t id) const { return *heads_.Row(static_cast<size_t>(id)); }

    size_t agents_;
    ChunkedRows<Record> heads_;
    ChunkedRows<int64_t> positions_;
    ChunkedRows<double> costs_;
    ChunkedRows<uint8_t> finished_;
    // The search leaves aux empty; the rare label that carries values keeps them here.
    std::unordered_map<int64_t, std::vector<double>> aux_;
};

}  // namespace tamrik
