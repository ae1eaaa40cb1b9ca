#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace tamrik {

// A growable table of rows of `stride` values each, kept in fixed blocks of kRowsPerBlock
// rows. Growing adds blocks and never moves the rows already stored: a vector that doubles
// would hold its old and new buffers at once, which in a search of millions of labels means
// hundreds of megabytes at a stroke, past any memory ceiling the search checks against.
template <typename T>
class ChunkedRows {
public:
    static constexpr size_t kRowsPerBlock = size_t{1} << 15;

    explicit ChunkedRows(size_t stride = 1) : stride_(stride) {}

    size_t size() const { return rows_; }

    // New rows read as value-initialised T, also after a shrink.
    void resize(size_t rows) {
        const size_t blocks = (rows + kRowsPerBlock - 1) / kRowsPerBlock;
        while (blocks_.size() < blocks) {
            blocks_.push_back(std::make_unique<T[]>(kRowsPerBlock * stride_));
        }
        for (size_t row = rows_; row < rows; ++row) std::fill_n(Row(row), stride_, T{});
        blocks_.resize(blocks);
        rows_ = rows;
    }

    T* Row(size_t row) { return blocks_[row / kRowsPerBlock].get() + row % kRowsPerBlock * stride_; }
    const T* Row(size_t row) const {
        return blocks_[row / kRowsPerBlock].get() + row % kRowsPerBlock * stride_;
    }

private:
    size_t stride_;
    size_t rows_ = 0;
    std::vector<std::unique_ptr<T[]>> blocks_;
};

}  // namespace tamrik
