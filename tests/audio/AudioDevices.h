#pragma once

// ALSA file devices for the audio tests, so that the real PortAudio and ALSA
// stack runs without a sound card: "phxplay" writes what is played to a raw
// float file, "phxrec" captures from a prepared raw float file, and
// "phxrec48" captures from the same file but only at 48000 Hz, as a card
// with a fixed rate does (a converting device whose converter does not
// exist, so every other rate fails to open). Each test
// process gets a folder of its own (its HOME, where ALSA finds the
// asoundrc), so tests run in parallel never share a file. While the devices
// live, a bug that records or plays without end fails the test instead of
// filling the disk (see RunawayGuard).

#include "audio/AudioBackend.h"
#include "support/RunawayGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace phonaxis::test {

class AlsaFileDevices {
public:
    // Must run before the first PortAudio backend of the process.
    AlsaFileDevices() {
        const char* tmp = std::getenv("TMPDIR");
        m_folder = std::filesystem::path(tmp ? tmp : "/tmp") /
                   ("audio-devices-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_folder);
        std::ofstream rc(m_folder / ".asoundrc", std::ios::trunc);
        rc << "pcm.phxplay {\n  type file\n  slave.pcm \"null\"\n  file \"" << playedPath()
           << "\"\n  format \"raw\"\n}\n"
           << "pcm.phxrec {\n  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n  infile \""
           << inputPath() << "\"\n  format \"raw\"\n}\n"
           << "pcm.phxrec48file {\n  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n"
           << "  infile \"" << inputPath() << "\"\n  format \"raw\"\n}\n"
           << "pcm.phxrec48 {\n  type plug\n  slave { pcm \"phxrec48file\"; rate 48000 }\n"
           << "  rate_converter \"phx-no-converter\"\n}\n";
        rc.close();
        writeInput({});
        ::setenv("HOME", m_folder.c_str(), 1);
        ::unsetenv("ALSA_CONFIG_PATH");
    }

    std::string playedPath() const { return (m_folder / "played.raw").string(); }
    std::string inputPath() const { return (m_folder / "input.raw").string(); }

    // What reached the playback device, without the silence a device may
    // put before the sound starts (the tests' signals never start at 0).
    std::vector<float> readPlayed() const {
        std::ifstream in(playedPath(), std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<float> samples(bytes.size() / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        const auto sound = std::find_if(samples.begin(), samples.end(), [](float v) { return v != 0.0f; });
        samples.erase(samples.begin(), sound);
        return samples;
    }

    void writeInput(const std::vector<float>& samples) const {
        std::ofstream out(inputPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(samples.data()),
                  static_cast<std::streamsize>(samples.size() * sizeof(float)));
    }

private:
    RunawayGuard m_guard{std::uint64_t{64} << 20}; // minutes of sound
    std::filesystem::path m_folder;
};

} // namespace phonaxis::test
