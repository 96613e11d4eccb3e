#pragma once

// Memory sources for a process whose control group allows `bytes` and uses
// none: the system's other figures, with the group's files written under
// `folder`. Called again, it moves the limit.

#include "document/AvailableMemory.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace phonaxis::test {

inline MemorySources memoryLimitedTo(const std::filesystem::path& folder, std::uint64_t bytes)
{
    std::filesystem::create_directories(folder / "limited");
    std::ofstream(folder / "limited" / "memory.max") << bytes << "\n";
    std::ofstream(folder / "limited" / "memory.current") << "0\n";
    std::ofstream(folder / "cgroup") << "0::/limited\n";
    MemorySources sources = MemorySources::system();
    sources.selfCgroup = folder / "cgroup";
    sources.cgroupRoot = folder;
    return sources;
}

} // namespace phonaxis::test
