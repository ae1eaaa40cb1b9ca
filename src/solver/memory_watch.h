#pragma once

#include <cstdint>

namespace tamrik {

// Tells whether the process has grown past a memory ceiling. The search grows by a few
// hundred bytes per label, so reading the resident size once per kLabelsPerReading labels
// keeps the cost of the question negligible and the overshoot to a few megabytes.
class MemoryWatch {
public:
    static constexpr int64_t kLabelsPerReading = 16384;

    // Forgets the previous search; the next question reads the resident size.
    void Reset() { next_reading = 0; }
    // true once the resident size exceeds seven eighths of limit_mib mebibytes, so that the
    // peak stays below the limit; never with a limit of 0.
    bool Exceeded(uint64_t limit_mib, int64_t labels_generated);

    // The resident size of this process in bytes, or its peak where the current size cannot
    // be read; 0 when neither can.
    static uint64_t ResidentBytes();

private:
    int64_t next_reading = 0;
};

}  // namespace tamrik
