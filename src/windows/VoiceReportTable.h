#pragma once

#include <string>
#include <vector>

namespace phonaxis {

struct VoiceReport;

// The voice report as a table of text, the way the voice report window
// shows it and copies it: one row per measure (its name with its unit), a
// column for the audio and one for the EGG. A number is written with the
// decimals its measure needs; "–" where the measure does not apply to the
// source or could not be computed. A report without measures shows its
// message (first letter capitalised) in its column's first row and leaves
// the column's other cells empty, so that no number stands beside a
// failure. Pure; any thread.
struct VoiceReportTable {
    static constexpr const char* kNotApplicable = "–";

    struct Row {
        std::string measure; // "Jitter local (%)"
        std::string audio;
        std::string egg;
    };
    std::vector<Row> rows;
    std::string audioMessage; // empty when the audio report has measures
    std::string eggMessage;   // empty when the EGG report has measures

    // Tab-separated text: the line "Measure\tAudio\tEGG", then one line per
    // row; every line ends in "\n".
    std::string text() const;
};

VoiceReportTable voiceReportTable(const VoiceReport& audio, const VoiceReport& egg);

} // namespace phonaxis
