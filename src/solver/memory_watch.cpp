#include "solver/memory_watch.h"

#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

namespace tamrik {

bool MemoryWatch::Exceeded(uint64_t limit_mib, int64_t labels_generated) {
    if (limit_mib == 0 || labels_generated < next_reading) return false;
    next_reading = labels_generated + kLabelsPerReading;
    // The search's largest arrays grow by doubling, and ending the search builds the results:
    // stopping at seven eighths of the ceiling leaves room for both.
    return ResidentBytes() > limit_mib * 1024 * 1024 / 8 * 7;
}

uint64_t MemoryWatch::ResidentBytes() {
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        unsigned long long size = 0;
        unsigned long long resident = 0;
        const int read = std::fscanf(statm, "%llu %llu", &size, &resident);
        std::fclose(statm);
        if (read == 2) return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    }
    // The peak is never below the current size, so the ceiling still holds.
    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
#ifdef __APPLE__
    return static_cast<uint64_t>(usage.ru_maxrss);
#else
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
#endif
}

}  // namespace tamrik
