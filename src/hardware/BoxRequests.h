#pragma once

// What passes between the host and an acquisition box on the bus: the
// vendor requests of the loader and of the programmed box, and the pipes of
// the programmed box's interface. The protocol and the simulated box both
// speak it.

#include <cstddef>
#include <cstdint>

namespace phonaxis::box {

// The boxes' identities: the loader (no firmware yet) and the programmed box.
inline constexpr std::uint16_t kVendor = 0x2E7B;
inline constexpr std::uint16_t kLoaderProduct = 0x1600;
inline constexpr std::uint16_t kBoxProduct = 0x1601;

// bmRequestType of the vendor requests (device recipient).
inline constexpr std::uint8_t kHostToDevice = 0x40;
inline constexpr std::uint8_t kDeviceToHost = 0xC0;

// The loader: the controller's RAM load request and its CPU control
// register (1 holds the controller in reset, 0 lets it run).
inline constexpr std::uint8_t kLoadRequest = 0xA0;
inline constexpr std::uint16_t kCpuControl = 0xE600;
// The controller's program and data RAM, where an image's records go:
// 0x0000 to 0x3FFF. The loader refuses writes anywhere else.
inline constexpr std::uint32_t kRamBytes = 0x4000;

// The programmed box.
inline constexpr std::uint8_t kStartSampling = 0xB2;
inline constexpr std::uint8_t kStartPlayback = 0xB3;
inline constexpr std::uint8_t kStop = 0xB4;
inline constexpr std::uint8_t kSetControl = 0xB6; // wValue: the control index
inline constexpr std::uint8_t kReadConfiguration = 0xB7;
inline constexpr std::size_t kControlBlockBytes = 64; // 0xB6 and 0xB7 move 64 bytes

// Pipes of its interface: 1 bulk out (the D/A words), 2 bulk in (frames).
inline constexpr int kWritePipe = 1;
inline constexpr int kReadPipe = 2;

} // namespace phonaxis::box
