#pragma once

// An acquisition box in the process, behind the same transport as a real
// one, so that the whole hardware path runs and is tested on any machine.
//
// Plugged in, it enumerates as the loader (0x2E7B/0x1600). It accepts the
// 0xA0 RAM writes; the write of 0x01 to 0xE600 holds its controller in
// reset, the write of 0x00 releases it. When released after a well-formed
// image was written (records of at most 16 bytes into 0x0000..0x3FFF, at
// least one byte), it leaves the bus and enumerates again as the programmed
// box (0x2E7B/0x1601): a removal notice of the loader, then an arrival. The
// programmed box answers 0xB7 with its channel count (9, 5 or 2) in the low
// four bits of byte 0, keeps every control block it is sent (0xB6), starts
// and stops sampling (0xB2, 0xB4) and playback (0xB3, 0xB4).
//
// Sampling: 22,050 frames per second, 2,048 frames of 16 little-endian
// int16 slots per 64 KiB read, from the synthetic signals below, in time as
// the clock passes (a read completes when its block's last frame is due).
// Playback: consumes 4,096-byte D/A blocks at 22,050 words per second and
// keeps what it received.
//
// The clock is injected (tests step it; the application passes the steady
// clock). Its one poll descriptor (an eventfd) becomes readable whenever a
// request, a transfer or a plug reaches it from outside handleEvents, so a
// main loop that waits on descriptors and timeouts never sleeps through new
// work. One thread at a time, like every transport: the main thread, or the
// firmware download's worker while the main thread leaves the box alone.
//
// In detail: frame n is due n / 22050 s after the box was made; 0xB2 starts
// at the first frame not before the clock (never going back over frames
// sent), and frames stay contiguous from read to read, so a ring queued late
// catches up at once. Reads queued while the box is not sampling, and writes
// while it is not playing, wait; 0xB4 stops both and drops a block half
// done. A read of less than 64 KiB gets as many whole frames as fit (a
// stream a short read left inside a frame finishes that frame first). The
// loader refuses (kStall) RAM writes outside 0x0000..0x3FFF and reset
// writes of other than one byte; a download counts from the 0x01 reset
// write. Every request the programmed box receives, refused or failed ones
// included, is listed by requests(); requests that would run sampling and
// playback at once by conflicts(). A box plugged in again is a fresh one:
// RAM, control blocks, requests, conflicts and D/A words start empty.

#include "hardware/BoxRequests.h"
#include "hardware/UsbTransport.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace phonaxis::usb {

class SimulatedBox final : public UsbTransport {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::uint16_t kVendor = box::kVendor;
    static constexpr std::uint16_t kLoaderProduct = box::kLoaderProduct;
    static constexpr std::uint16_t kBoxProduct = box::kBoxProduct;
    static constexpr double kFrameRateHz = 22050.0;
    static constexpr std::size_t kSlots = 16;

    // `channels`: 9, 5 or 2 (what 0xB7 answers; any value is accepted so
    // that tests can make a box answer 3). `now`: the clock.
    explicit SimulatedBox(int channels, std::function<Clock::time_point()> now = Clock::now);
    ~SimulatedBox() override;

    // --- the synthetic signals (normalized units, before 16-bit rounding) ----
    // Frame n at time t = n / 22050 s:
    //   audio (slots 0..3, each the same value; their mean is the audio
    //   sample): a vowel-like sum of harmonics of 120 Hz,
    //   slot k + 3 for analog channel k = 1..12: channel 1 an EGG-like
    //   waveform at 120 Hz, the others slow transducer signals.
    // `slotValue` is the int16 the box sends; tests compare with it.
    static double signal(std::size_t slot, std::uint64_t frame);
    static std::int16_t slotValue(std::size_t slot, std::uint64_t frame);

    // --- what a test does to the box -------------------------------------------
    void plug();                    // attach (as the loader); an arrival follows
    void unplug();                  // detach: transfers fail, a removal follows
    bool plugged() const;
    // Attach as another device of the same vendor (a device the host must
    // leave alone).
    void plugForeign(std::uint16_t product);

    // The next control request with this bRequest fails with `status`
    // (once); the next bulk transfer on `pipeRef` completes with `status`.
    void failNextRequest(std::uint8_t request, Status status);
    void failNextTransfer(int pipeRef, Status status);
    // The loader answers each RAM load request after `delay` (a slow
    // loader), sleeping in the calling thread.
    void setLoaderDelay(std::chrono::microseconds delay);
    // The next `count` reads deliver `bytes` bytes each (fewer if they ask
    // fewer; 0 is an empty read), wherever that ends: the stream goes on at
    // the next byte, so a frame may begin in one read and end in the next.
    void shortenReads(std::size_t bytes, int count);

    // --- what a test reads back ------------------------------------------------
    struct ControlBlock {
        std::uint16_t index = 0;               // wValue of the 0xB6 request
        std::array<std::uint8_t, 64> bytes{};
    };
    const std::vector<ControlBlock>& controlBlocks() const;
    // Every bRequest received by the programmed box, in order.
    const std::vector<std::uint8_t>& requests() const;
    // The bytes of the image written to RAM (address → byte), and whether
    // the controller is held in reset.
    const std::vector<std::uint8_t>& ram() const;
    bool inReset() const;
    bool programmed() const;        // enumerated as 0x1601
    bool sampling() const;
    bool playing() const;
    // The frame number of the next frame sampling will send.
    std::uint64_t nextFrame() const;
    // The D/A words received, in order.
    const std::vector<std::uint16_t>& received() const;
    // The box has one stop request for sampling and playback, so running
    // both at once means that ending one ends the other. Every request that
    // brings them together is listed here, in order: "start of playback
    // while sampling", "start of sampling while playing", "stop while
    // sampling and playing". A host that keeps them apart leaves it empty.
    const std::vector<std::string>& conflicts() const;
    // Bulk transfers queued and not yet completed, per pipe.
    std::size_t inFlight(int pipeRef) const;

    // --- UsbTransport ---------------------------------------------------------
    Status watch(std::uint16_t vendor, Arrival arrived, Removal removed,
                 std::string& error) override;
    std::vector<PollFd> pollFds() override;
    void onPollFdsChanged(std::function<void()> changed) override;
    std::optional<std::chrono::milliseconds> nextTimeout() override;
    void handleEvents() override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace phonaxis::usb
