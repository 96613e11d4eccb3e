// The info text beside a box recording's raw file (what a run that ended
// while recording left behind, read again at the next launch) on arbitrary
// bytes. A text that parses gives a channel count of 1..16 and on/off flags
// of 0 or 1; written back as an info text it parses again to the same
// recording; a text that does not parse leaves the info it was given as it
// was.

#include "hardware/BoxRecording.h"

#include <cstdlib>
#include <string>

namespace {

using phonaxis::RawRecordingFile;
using phonaxis::RecordingInfo;

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// The recording the info describes: its channel count, start and each
// entry's settings and source name (as far as its NUL: a name is text).
bool sameRecording(const RecordingInfo& a, const RecordingInfo& b)
{
    if (a.systemChannels != b.systemChannels || a.startedUnixSeconds != b.startedUnixSeconds) {
        return false;
    }
    for (std::size_t k = 0; k < a.table.size(); ++k) {
        const auto& x = a.table[k];
        const auto& y = b.table[k];
        if (x.bOnOff != y.bOnOff || x.nSampleRate != y.nSampleRate ||
            x.nFilterRate != y.nFilterRate || x.nGain != y.nGain || x.source() != y.source()) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    RecordingInfo untouched;
    untouched.systemChannels = 99;
    RecordingInfo info = untouched;
    if (!RawRecordingFile::parseInfo(text, info)) {
        check(sameRecording(info, untouched));
        return 0;
    }
    check(info.systemChannels >= 1 && info.systemChannels <= 16);
    for (const auto& entry : info.table) {
        check(entry.bOnOff == 0 || entry.bOnOff == 1);
        check(entry.cSource[sizeof entry.cSource - 1] == 0);
    }
    RecordingInfo again;
    check(RawRecordingFile::parseInfo(RawRecordingFile::infoText(info), again));
    check(sameRecording(again, info));
    return 0;
}
