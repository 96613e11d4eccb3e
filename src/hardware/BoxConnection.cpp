#include "hardware/BoxConnection.h"

#include <utility>

namespace phonaxis {

BoxConnection::BoxConnection(usb::UsbTransport& transport_, ConsoleSink console_,
                             HardwareAnnouncer& announcer_, std::function<Clock::time_point()> now_)
    : transport(transport_), console(std::move(console_)), announcer(announcer_),
      now(std::move(now_))
{
}

std::shared_ptr<BoxConnection> BoxConnection::create(usb::UsbTransport& transport,
                                                     ConsoleSink console,
                                                     HardwareAnnouncer& announcer,
                                                     std::function<Clock::time_point()> now)
{
    return std::make_shared<BoxConnection>(transport, std::move(console), announcer,
                                           std::move(now));
}

void BoxConnection::setFirmware(std::optional<FirmwareImage> image, std::string error, bool tellNow)
{
    firmware = std::move(image);
    firmwareErrorPrinted = false;
    if (firmware) {
        firmwareError.clear();
        return;
    }
    firmwareError = error.empty() ? "The firmware image for the acquisition box could not be read."
                                  : std::move(error);
    if (tellNow) {
        print(firmwareError + "\n");
        firmwareErrorPrinted = true;
    }
}

} // namespace phonaxis
