#pragma once

// Resident-memory readings of this process, for the benchmarks' memory
// figures (Linux /proc).

#include <cstdlib>
#include <fstream>
#include <string>

namespace phonaxis::bench {

// A "Vm…:" line of /proc/self/status in kB, or -1.
inline long statusKb(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = key;
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return -1;
}

// Peak resident memory since the last reset.
inline long peakResidentKb() { return statusKb("VmHWM:"); }
inline long currentResidentKb() { return statusKb("VmRSS:"); }

// Starts a new peak from the current resident memory.
inline bool resetPeakResident()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

} // namespace phonaxis::bench
