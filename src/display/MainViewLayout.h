#pragma once

// The main view's layout constants (pixels), shared by its model and its
// drawing: the trace and every time-to-pixel conversion start
// g_nLeftWindowOffset from the left; strips are separated by g_nDelta.
// No Qt here, so the model stays free of it.

namespace phonaxis {

inline constexpr int g_nLeftWindowOffset = 50;  // left margin
inline constexpr int g_nTopWindowOffset = 5;
inline constexpr int g_nRightWindowOffset = 5;  // right margin
inline constexpr int g_nDelta = 5;              // gap between strips

} // namespace phonaxis
