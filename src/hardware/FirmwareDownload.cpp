#include "hardware/FirmwareDownload.h"

#include "hardware/BoxRequests.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace phonaxis {

namespace {

std::string statusText(usb::Status status)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", status);
    return text;
}

} // namespace

std::string FirmwareDownload::Result::consoleLine() const
{
    char text[96];
    switch (step) {
    case Step::Reset:
        std::snprintf(text, sizeof text, "AnchorWrite reset returned err 0x%x!\n", status);
        return text;
    case Step::Record:
        std::snprintf(text, sizeof text, "AnchorWrite download %i returned err 0x%x!\n", record,
                      status);
        return text;
    case Step::Run:
        std::snprintf(text, sizeof text, "AnchorWrite run returned err 0x%x!\n", status);
        return text;
    case Step::Done:
    case Step::Cancelled:
        break;
    }
    return {};
}

std::string FirmwareDownload::Result::sentence() const
{
    switch (step) {
    case Step::Done:
        return {};
    case Step::Reset:
        return "The firmware download to the acquisition box failed: its loader refused the "
               "reset write (" + statusText(status) + "). The box was not programmed.";
    case Step::Record:
        return "The firmware download to the acquisition box failed at record " +
               std::to_string(record) + " (" + statusText(status) +
               "). The box is held in reset, without firmware; unplug it and plug it in again "
               "to retry.";
    case Step::Run:
        return "The firmware download to the acquisition box failed: its loader refused the run "
               "write (" + statusText(status) +
               "). The box may be held in reset; unplug it and plug it in again to retry.";
    case Step::Cancelled:
        return "The firmware download to the acquisition box was cancelled. The box is held in "
               "reset, without firmware; unplug it and plug it in again to program it.";
    }
    return {};
}

std::vector<FirmwareRecord> FirmwareDownload::recordsToLoad(const FirmwareImage& image)
{
    std::vector<FirmwareRecord> records;
    for (const FirmwareRecord& record : image.records) {
        if (record.Type != 0)
            break;
        records.push_back(record);
    }
    return records;
}

usb::Status FirmwareDownload::anchorWrite(usb::UsbDevice& device, std::uint16_t address,
                                          std::span<const std::uint8_t> data)
{
    // The request's data span is not const (it serves both directions);
    // a load only reads it, from a copy.
    std::array<std::uint8_t, 16> bytes{};
    const std::size_t count = std::min(data.size(), bytes.size());
    std::copy_n(data.begin(), count, bytes.begin());
    usb::ControlRequest request;
    request.requestType = box::kHostToDevice;
    request.request = box::kLoadRequest;
    request.value = address;
    request.index = 0;
    request.data = std::span(bytes).first(count);
    std::size_t transferred = 0;
    return device.control(request, transferred);
}

FirmwareDownload::Result FirmwareDownload::run(usb::UsbDevice& device,
                                               std::span<const FirmwareRecord> records,
                                               const std::atomic<bool>* cancelled,
                                               std::atomic<int>* written)
{
    Result result;
    const std::uint8_t reset = 0x01;
    result.status = anchorWrite(device, box::kCpuControl, std::span(&reset, 1));
    if (result.status != usb::kSuccess) {
        result.step = Step::Reset;
        return result;
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        result.record = static_cast<int>(i);
        if (cancelled != nullptr && *cancelled) {
            result.step = Step::Cancelled;
            result.status = usb::kAborted;
            return result;
        }
        const FirmwareRecord& record = records[i];
        // A record claiming more than its 16 bytes would write what
        // follows it in memory into the controller.
        result.status =
            record.Length <= record.Data.size()
                ? anchorWrite(device, static_cast<std::uint16_t>(record.Address & 0xFFFF),
                              std::span(record.Data).first(record.Length))
                : usb::kBadArgument;
        if (result.status != usb::kSuccess) {
            result.step = Step::Record;
            return result;
        }
        if (written != nullptr)
            ++*written;
    }
    // A cancel that came during the last record still leaves the box in reset.
    if (cancelled != nullptr && *cancelled) {
        result.step = Step::Cancelled;
        result.status = usb::kAborted;
        result.record = static_cast<int>(records.size());
        return result;
    }
    const std::uint8_t go = 0x00;
    result.status = anchorWrite(device, box::kCpuControl, std::span(&go, 1));
    result.step = result.status == usb::kSuccess ? Step::Done : Step::Run;
    return result;
}

FirmwareDownload::FirmwareDownload(std::shared_ptr<usb::UsbDevice> device,
                                   const FirmwareImage& image)
    : m_device(std::move(device)), m_records(recordsToLoad(image))
{
    m_worker = std::thread([this] {
        m_result = run(*m_device, m_records, &m_cancel, &m_written);
        m_finished = true;
    });
}

FirmwareDownload::~FirmwareDownload()
{
    cancel();
    if (m_worker.joinable())
        m_worker.join();
}

FirmwareDownload::Result FirmwareDownload::wait()
{
    if (m_worker.joinable())
        m_worker.join();
    return m_result;
}

} // namespace phonaxis
