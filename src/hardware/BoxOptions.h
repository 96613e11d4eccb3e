#pragma once

// How a program chooses its acquisition box: a simulated box of 9, 5 or 2
// channels or the boxes on the USB bus, and the firmware image a loader
// gets. The desktop application and phonaxis-cli follow the same rules.

#include "hardware/BoxConnection.h"
#include "hardware/FirmwareImage.h"

#include <functional>
#include <optional>
#include <string>

namespace phonaxis {

struct BoxOptions {
    // 9, 5 or 2: a simulated box of that many channels, plugged in at
    // launch; 0: the boxes on the USB bus.
    int simulatedChannels = 0;
    // The firmware image named on the command line or in
    // PHONAXIS_FIRMWARE; "" when none was named.
    std::string firmwarePath;
    // Where the image is looked for when none was named (the application's
    // data folder), and the image made at build time, which a simulated
    // box uses when no image was named.
    std::string defaultFirmwarePath;
    std::string builtFirmwarePath;
    // The clock of a simulated box and of the connection's playback time;
    // empty: the steady clock. Tests step one of their own, so that
    // seconds of recording need no seconds of waiting.
    std::function<BoxConnection::Clock::time_point()> clock;
};

// The simulated box's channel count from a `--simulate-box=N` argument or
// the PHONAXIS_SIMULATE_BOX value: 9, 5 or 2; nothing for anything else
// (with `error` saying why, unless `text` is empty).
std::optional<int> simulatedChannelsFrom(const std::string& text, std::string& error);

// The image a loader gets: the one named (an error when it cannot be read),
// else the one in the data folder when it is there, else, for a simulated
// box, the one made at build time. Nothing, with `error` saying where to
// put one, when there is none.
std::optional<FirmwareImage> firmwareFor(const BoxOptions& options, std::string& error);

// The file `firmwareFor` reads: the one named, else the data folder's when
// it is there, else, for a simulated box, the one made at build time; ""
// when there is none.
// The firmware image made at build time for a program in `executableFolder`:
// "../data/firmware.hex" beside a program in its build folder, else
// "../share/phonaxis/firmware.hex" where the program is installed; "" for
// an empty folder.
std::string builtFirmwareBeside(const std::string& executableFolder);

std::string firmwarePathFor(const BoxOptions& options);

// Whether a missing image is an error at once: one was named, or a
// simulated box will ask for it. (Without either, only a loader arriving
// on the bus needs it.)
bool firmwareAskedFor(const BoxOptions& options);

} // namespace phonaxis
