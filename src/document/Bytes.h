#pragma once

#include "model/ZeroedAllocator.h"

#include <cstdint>
#include <span>
#include <vector>

namespace phonaxis {

// The bytes of a file. The memory comes zeroed, so a writer that sizes its
// output first pays no pass over it.
using Bytes = std::vector<std::uint8_t, ZeroedAllocator<std::uint8_t>>;
using ByteView = std::span<const std::uint8_t>;

} // namespace phonaxis
