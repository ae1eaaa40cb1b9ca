#include "graph/sparse_graph.h"

#include <algorithm>
#include <stdexcept>

#include "base/log_sink.h"

namespace tamrik {
namespace {

// Graph failures are printed on standard output and then thrown with the same text
// (or, for AddArc, a shorter one).
[[noreturn]] void Fail(const std::string& printed, const std::string& thrown) {
    LogLine(LogStream::kOut, printed);
    throw std::runtime_error(thrown);
}

[[noreturn]] void Fail(const std::string& message) { Fail(message, message); }

// Position of `id` in `list`, or -1.
int64_t Find(const std::vector<int64_t>& list, int64_t id) {
    auto it = std::find(list.begin(), list.end(), id);
    return it == list.end() ? -1 : static_cast<int64_t>(it - list.begin());
}

void ResizeTo(std::vector<CostVector>& costs, size_t length, double fill) {
    for (CostVector& cost : costs) cost.resize(length, fill);
}

void AppendLines(std::string& out, const std::vector<std::vector<int64_t>>& ids,
                 const std::vector<std::vector<CostVector>>& costs) {
    for (size_t v = 0; v < ids.size(); ++v) {
        out += " -- " + std::to_string(v) + ":[";
        for (size_t k = 0; k < ids[v].size(); ++k) {
            out += std::to_string(ids[v][k]) + "([";
            const CostVector& cost = costs[v][k];
            for (size_t t = 0; t < cost.size(); ++t) {
                if (t > 0) out += ",";
                out += std::to_string(cost[t]);
            }
            out += "]),";
        }
        out += "]\n";
    }
}

// Graphs up to this many vertices get the lookup index (4 MiB of slots at most).
constexpr size_t kMaxIndexedVertices = 1024;
// Dense cost copies up to this many entries (64 MiB at most).
constexpr size_t kMaxDenseEntries = size_t{1} << 23;

}  // namespace

bool SparseGraph::EnsureIndex() const {
    if (index_state == IndexState::kReady) return true;
    size_t n = succs.size();
    if (n > kMaxIndexedVertices) {
        index_state = IndexState::kTooLarge;
        return false;
    }
    slot_index.assign(n * n, -1);
    dense_ready = n * n * cdim <= kMaxDenseEntries;
    for (size_t u = 0; u < n && dense_ready; ++u) {
        for (const CostVector& cost : succ_costs[u]) dense_ready = dense_ready && cost.size() == cdim;
    }
    dense_costs.assign(dense_ready ? n * n * cdim : 0, 0.0);
    for (size_t u = 0; u < n; ++u) {
        for (size_t k = succs[u].size(); k-- > 0;) {
            size_t cell = u * n + static_cast<size_t>(succs[u][k]);
            slot_index[cell] = static_cast<int32_t>(k);  // walking backwards keeps the first
            if (dense_ready) {
                std::copy(succ_costs[u][k].begin(), succ_costs[u][k].end(),
                          dense_costs.begin() + static_cast<std::ptrdiff_t>(cell * cdim));
            }
        }
    }
    index_state = IndexState::kReady;
    return true;
}

int64_t SparseGraph::SuccessorSlot(int64_t u, int64_t v) const {
    if (!HasVertex(u)) return -1;  // answered safely instead of reading past the tables
    if (index_state != IndexState::kTooLarge && EnsureIndex()) {
        if (!HasVertex(v)) return -1;
        return slot_index[static_cast<size_t>(u) * succs.size() + static_cast<size_t>(v)];
    }
    return Find(succs[u], v);
}

bool SparseGraph::HasVertex(int64_t v) const { return static_cast<uint64_t>(v) < succs.size(); }

bool SparseGraph::HasArc(int64_t u, int64_t v) const { return SuccessorSlot(u, v) >= 0; }

std::vector<int64_t> SparseGraph::GetSuccs(int64_t v) const {
    return HasVertex(v) ? succs[v] : std::vector<int64_t>{};
}

std::vector<int64_t> SparseGraph::GetPreds(int64_t v) const {
    return HasVertex(v) ? preds[v] : std::vector<int64_t>{};
}

CostVector SparseGraph::GetArcCost(int64_t u, int64_t v) const {
    int64_t k = SuccessorSlot(u, v);
    return k < 0 ? CostVector{} : succ_costs[u][k];
}

std::optional<double> SparseGraph::ArcCostEntry(int64_t u, int64_t v, int64_t type) const {
    int64_t k = SuccessorSlot(u, v);
    if (k < 0) return std::nullopt;
    if (dense_ready && index_state == IndexState::kReady) {
        if (static_cast<uint64_t>(type) >= cdim) return std::nullopt;
        size_t cell = static_cast<size_t>(u) * succs.size() + static_cast<size_t>(v);
        return dense_costs[cell * cdim + static_cast<size_t>(type)];
    }
    const CostVector& cost = succ_costs[u][k];
    if (static_cast<uint64_t>(type) >= cost.size()) return std::nullopt;
    return cost[type];
}

ArcCostTable SparseGraph::CostTable() const {
    if (!EnsureIndex() || !dense_ready) return {};
    return ArcCostTable{dense_costs.data(), slot_index.data(), succs.size(), cdim};
}

std::vector<CostVector> SparseGraph::GetSuccCosts(int64_t v) const {
    return HasVertex(v) ? succ_costs[v] : std::vector<CostVector>{};
}

std::vector<CostVector> SparseGraph::GetPredCosts(int64_t v) const {
    return HasVertex(v) ? pred_costs[v] : std::vector<CostVector>{};
}

size_t SparseGraph::NumVertex() const { return succs.size(); }

size_t SparseGraph::NumArc() const { return num_arc; }

size_t SparseGraph::NumEdge() const {
    if (num_arc % 2 != 0) Fail("[ERROR] SparseGraph::NumEdge is not an integer but a fraction");
    return num_arc / 2;
}

size_t SparseGraph::CostDim() const { return cdim; }

std::vector<int64_t> SparseGraph::GetAllVertices() const {
    std::vector<int64_t> all(NumVertex());
    for (size_t v = 0; v < all.size(); ++v) all[v] = static_cast<int64_t>(v);
    return all;
}

void SparseGraph::ReserveAdjacency(size_t arcs) {
    for (size_t v = 0; v < succs.size(); ++v) {
        succs[v].reserve(arcs);
        succ_costs[v].reserve(arcs);
        preds[v].reserve(arcs);
        pred_costs[v].reserve(arcs);
    }
}

void SparseGraph::AddVertex(int64_t v) {
    if (HasVertex(v)) return;
    Invalidate();
    size_t size = static_cast<size_t>(v) + 1;
    succs.resize(size);
    succ_costs.resize(size);
    preds.resize(size);
    pred_costs.resize(size);
}

void SparseGraph::AddEdge(int64_t u, int64_t v, const CostVector& cost) {
    AddArc(u, v, cost);
    AddArc(v, u, cost);
}

void SparseGraph::AddArc(int64_t u, int64_t v, const CostVector& cost) {
    if (!HasVertex(u)) AddVertex(u);
    if (!HasVertex(v)) AddVertex(v);
    if (cdim == 0) {
        if (!cost.empty()) Invalidate();
        cdim = cost.size();
    } else if (cdim != cost.size()) {
        Fail("[ERROR] SparseGraph::AddArc cdim does not match: " + std::to_string(cdim) +
                 " != " + std::to_string(cost.size()),
             "[ERROR] SparseGraph::AddArc cdim does not match");
    }
    // A graph filled arc by arc after its vertices keeps its index up to date instead of
    // scanning the adjacency lists for every new arc.
    if (index_state == IndexState::kStale && num_arc == 0) EnsureIndex();
    const bool indexed = index_state == IndexState::kReady;
    int64_t k = indexed ? SuccessorSlot(u, v) : Find(succs[u], v);
    // v is in succs[u] exactly when u is in preds[v].
    const bool is_new = k < 0;
    if (!is_new) {
        succ_costs[u][k] = cost;
    } else {
        k = static_cast<int64_t>(succs[u].size());
        succs[u].push_back(v);
        succ_costs[u].push_back(cost);
        ++num_arc;
    }
    if (indexed) IndexArc(u, v, k, cost);
    int64_t j = is_new ? -1 : Find(preds[v], u);
    if (j >= 0) {
        pred_costs[v][j] = cost;
    } else {
        preds[v].push_back(u);
        pred_costs[v].push_back(cost);
        ++num_arc;
    }
}

void SparseGraph::IndexArc(int64_t u, int64_t v, int64_t slot, const CostVector& cost) {
    const size_t cell = static_cast<size_t>(u) * succs.size() + static_cast<size_t>(v);
    slot_index[cell] = static_cast<int32_t>(slot);
    if (dense_ready) {
        std::copy(cost.begin(), cost.end(),
                  dense_costs.begin() + static_cast<std::ptrdiff_t>(cell * cdim));
    }
}

void SparseGraph::CreateFromEdges(const std::vector<int64_t>& sources,
                                  const std::vector<int64_t>& targets,
                                  const std::vector<CostVector>& costs) {
    CreateFrom(sources, targets, costs, true);
}

void SparseGraph::CreateFromArcs(const std::vector<int64_t>& sources,
                                 const std::vector<int64_t>& targets,
                                 const std::vector<CostVector>& costs) {
    CreateFrom(sources, targets, costs, false);
}

void SparseGraph::CreateFrom(const std::vector<int64_t>& sources,
                             const std::vector<int64_t>& targets,
                             const std::vector<CostVector>& costs, bool undirected) {
    Invalidate();
    for (size_t v = 0; v < succs.size(); ++v) {
        succs[v].clear();
        succ_costs[v].clear();
        preds[v].clear();
        pred_costs[v].clear();
    }
    int64_t largest = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        largest = std::max({largest, sources[i], targets[i]});
    }
    size_t size = static_cast<size_t>(largest) + 1;
    succs.resize(size);
    succ_costs.resize(size);
    preds.resize(size);
    pred_costs.resize(size);
    for (size_t i = 0; i < sources.size(); ++i) {
        AppendArc(sources[i], targets[i], costs[i]);
        if (undirected) AppendArc(targets[i], sources[i], costs[i]);
    }
}

void SparseGraph::AppendArc(int64_t u, int64_t v, const CostVector& cost) {
    succs[u].push_back(v);
    succ_costs[u].push_back(cost);
    preds[v].push_back(u);
    pred_costs[v].push_back(cost);
}

void SparseGraph::ChangeCostDim(size_t new_cdim, double fill) {
    Invalidate();
    for (auto& costs : succ_costs) ResizeTo(costs, new_cdim, fill);
    for (auto& costs : pred_costs) ResizeTo(costs, new_cdim, fill);
    cdim = new_cdim;
}

bool SparseGraph::SetArcCost(int64_t u, int64_t v, const CostVector& cost) {
    if (cdim != cost.size()) {
        Fail("[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! "
             "Maybe call ChangeCostDim() at first.");
    }
    if (!HasVertex(u) || !HasVertex(v)) {
        Fail("[ERROR] SparseGraph::SetArcCost vertex does not exist!");
    }
    int64_t k = Find(succs[u], v);
    if (k < 0) Fail("[ERROR] SparseGraph::SetArcCost arc does not exist!");
    Invalidate();
    succ_costs[u][k] = cost;
    k = Find(preds[v], u);
    if (k < 0) Fail("[ERROR] SparseGraph::SetArcCost arc does not exist!");
    pred_costs[v][k] = cost;
    return true;
}

std::string SparseGraph::ToStr() const {
    std::string out = "=== SparseGraph Begin ===\n |V| = " + std::to_string(NumVertex()) +
                      " outgoing edges \n";
    AppendLines(out, succs, succ_costs);
    out += " incoming edges \n";
    AppendLines(out, preds, pred_costs);
    out += "=== SparseGraph End ===";
    return out;
}

}  // namespace tamrik
