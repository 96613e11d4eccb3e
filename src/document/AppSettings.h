#pragma once

#include <cstdint>
#include <string>

namespace phonaxis {

// The kind of save a save context is waiting for.
struct SaveContext {
    std::string kind;            // "selection", "export" or "exportsel"
    std::int32_t channel = -1;   // -1 for all channels
};

// Process-wide settings shared by every document. One object per process
// (instance()); tests may make their own and hand it to a document.
struct AppSettings {
    // The analysis sample rate last adopted by a reader that recomputes the
    // rate-dependent settings; a file at the same rate leaves them alone.
    double m_dLastAnalysisSampleRate = 11025.0;

    // Save context reused by the save-selection and export commands.
    SaveContext saveContext;

    static AppSettings& instance();
};

} // namespace phonaxis
