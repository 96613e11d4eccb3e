#pragma once

// How much memory this process may still take before the system refuses it
// or kills the process: what the kernel counts as available, what the
// process's control groups still allow, and what its address-space and
// data limits leave. A reader that is about to take a whole recording into
// memory asks first, since beyond it the allocation may succeed on paper
// and the process be killed while filling it.

#include <cstdint>
#include <filesystem>
#include <optional>

namespace phonaxis {

// Where the figures come from. The defaults are the running system's; a
// test points the files at a folder of its own and sets the limits.
struct MemorySources {
    // "MemAvailable: N kB".
    std::filesystem::path meminfo = "/proc/meminfo";
    // The process's control groups: "0::/path" (version 2) or
    // "N:memory:/path" (version 1), one a line.
    std::filesystem::path selfCgroup = "/proc/self/cgroup";
    // Where the control-group file systems are mounted: version 2 directly,
    // version 1 under "memory/".
    std::filesystem::path cgroupRoot = "/sys/fs/cgroup";
    // "VmSize: N kB" and "VmData: N kB" of this process.
    std::filesystem::path selfStatus = "/proc/self/status";
    // RLIMIT_AS and RLIMIT_DATA in bytes; nothing when unlimited.
    std::optional<std::uint64_t> addressSpaceLimit;
    std::optional<std::uint64_t> dataLimit;

    // The running system's sources, with the process's current limits.
    static MemorySources system();
};

// The bytes this process may still allocate: the smallest of the figures
// the sources give (a limit of each control group from the process's own
// up to the root, less its usage). Nothing when no source tells.
std::optional<std::uint64_t> availableMemory(const MemorySources& sources);

} // namespace phonaxis
