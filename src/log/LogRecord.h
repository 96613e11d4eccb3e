#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace phonaxis {

// One measurement handed to the measurement log by a main-view command or an
// analysis window: the file it was measured in, the text naming its values
// and the values themselves. Passed by value; plain data.
struct LogRecord {
    // Value slots a record carries; slots at `count` and beyond hold 0.
    static constexpr std::int32_t kValueSlots = 100;

    std::string name;       // the document's display name (file name)
    std::string definition; // names the values, e.g. "Marker Entry: time ,Audio"
    std::int32_t count = 0; // number of values in use
    std::array<double, kValueSlots> values{};

    // Appends a value; false (and nothing stored) when every slot is in use.
    bool append(double value)
    {
        if (count < 0 || count >= kValueSlots) {
            return false;
        }
        values[static_cast<std::size_t>(count++)] = value;
        return true;
    }
};

} // namespace phonaxis
