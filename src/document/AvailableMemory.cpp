#include "document/AvailableMemory.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>

#include <sys/resource.h>

namespace phonaxis {

namespace {

namespace fs = std::filesystem;

// The first line of a small text file (a control-group value), trimmed of
// its line end; nothing when it cannot be read.
std::optional<std::string> firstLine(const fs::path& path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    return line;
}

std::optional<std::uint64_t> number(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    return value;
}

// The value of "NAME: N kB" in a /proc text, in bytes.
std::optional<std::uint64_t> kilobytesField(const fs::path& path, std::string_view name)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view view(line);
        if (view.size() > name.size() && view.starts_with(name) && view[name.size()] == ':') {
            const auto kb = number(view.substr(name.size() + 1));
            if (!kb || *kb > std::numeric_limits<std::uint64_t>::max() / 1024) {
                return std::nullopt;
            }
            return *kb * 1024;
        }
    }
    return std::nullopt;
}

void keepSmaller(std::optional<std::uint64_t>& least, std::optional<std::uint64_t> value)
{
    if (value && (!least || *value < *least)) {
        least = value;
    }
}

// What the control group at `group` (and every group above it, up to
// `root`) still allows: its limit less its usage. "max" or a figure past
// what any machine holds is no limit.
std::optional<std::uint64_t> groupRoom(const fs::path& root, fs::path group, const char* limitName,
                                       const char* usageName)
{
    constexpr std::uint64_t kUnlimited = std::uint64_t{1} << 60;
    std::optional<std::uint64_t> least;
    for (int depth = 0; depth < 64; ++depth) {
        const fs::path folder = root / group.relative_path();
        const auto limitText = firstLine(folder / limitName);
        const auto limit = limitText ? number(*limitText) : std::nullopt;
        if (limit && *limit < kUnlimited) {
            const auto usageText = firstLine(folder / usageName);
            const std::uint64_t usage = usageText ? number(*usageText).value_or(0) : 0;
            keepSmaller(least, *limit > usage ? *limit - usage : 0);
        }
        if (!group.has_relative_path()) {
            break;
        }
        group = group.parent_path();
    }
    return least;
}

std::optional<std::uint64_t> cgroupRoom(const MemorySources& sources)
{
    std::ifstream in(sources.selfCgroup);
    std::string line;
    std::optional<std::uint64_t> least;
    while (std::getline(in, line)) {
        // hierarchy-ID:controllers:path
        const std::size_t first = line.find(':');
        const std::size_t second =
            first == std::string::npos ? std::string::npos : line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        const std::string_view controllers =
            std::string_view(line).substr(first + 1, second - first - 1);
        // A path is kept inside its file system: ".." would leave it.
        const fs::path group = fs::path(line.substr(second + 1)).lexically_normal();
        if (group.empty() || *group.begin() != "/" ||
            std::any_of(group.begin(), group.end(), [](const fs::path& p) { return p == ".."; })) {
            continue;
        }
        if (line.compare(0, first, "0") == 0 && controllers.empty()) {
            keepSmaller(least,
                        groupRoom(sources.cgroupRoot, group, "memory.max", "memory.current"));
        } else {
            bool memory = false;
            std::size_t at = 0;
            while (at <= controllers.size()) {
                const std::size_t comma = std::min(controllers.find(',', at), controllers.size());
                memory = memory || controllers.substr(at, comma - at) == "memory";
                at = comma + 1;
            }
            if (memory) {
                keepSmaller(least, groupRoom(sources.cgroupRoot / "memory", group,
                                             "memory.limit_in_bytes", "memory.usage_in_bytes"));
            }
        }
    }
    return least;
}

// A process limit less what the process already uses of it.
std::optional<std::uint64_t> limitRoom(std::optional<std::uint64_t> limit, const fs::path& status,
                                       std::string_view usedName)
{
    if (!limit) {
        return std::nullopt;
    }
    const std::uint64_t used = kilobytesField(status, usedName).value_or(0);
    return *limit > used ? *limit - used : 0;
}

std::optional<std::uint64_t> processLimit(int resource)
{
    struct rlimit limit {};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

} // namespace

MemorySources MemorySources::system()
{
    MemorySources sources;
    sources.addressSpaceLimit = processLimit(RLIMIT_AS);
    sources.dataLimit = processLimit(RLIMIT_DATA);
    return sources;
}

std::optional<std::uint64_t> availableMemory(const MemorySources& sources)
{
    std::optional<std::uint64_t> least = kilobytesField(sources.meminfo, "MemAvailable");
    keepSmaller(least, cgroupRoom(sources));
    keepSmaller(least, limitRoom(sources.addressSpaceLimit, sources.selfStatus, "VmSize"));
    keepSmaller(least, limitRoom(sources.dataLimit, sources.selfStatus, "VmData"));
    return least;
}

} // namespace phonaxis
