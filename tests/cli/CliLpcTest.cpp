// phonaxis-cli spectrum at the LPC orders suited to higher rates: every
// formant of the demo's vowel that the order resolves is reported.
#include "Signals.h"
#include "document/FileIO.h"
#include "support/CliRunning.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace phonaxis {
namespace {

namespace fs = std::filesystem;

// The ten values (F1 … F5, B1 … B5) of the one log row of `spectrum --at`.
std::vector<double> spectrumValues(const std::string& out)
{
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line); // header
    std::getline(lines, line);
    std::istringstream fields(line);
    std::string field;
    std::getline(fields, field, '\t'); // file
    std::getline(fields, field, '\t'); // definition
    std::vector<double> values;
    while (values.size() < 10 && std::getline(fields, field, '\t')) {
        values.push_back(std::strtod(field.c_str(), nullptr));
    }
    return values;
}

TEST(CliLpc, DemoVowelHasItsFormantsAtOrders26And40)
{
    const fs::path dir = fs::temp_directory_path() / ("phonaxis-cli-lpc-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string demoPath = (dir / "demo.wav").string();
    const signals::DemoRecording demo = signals::demoRecording();
    const std::span<const float> channels[] = {demo.speech.audio};
    test::ScriptedPrompts prompts;
    const auto bytes = signals::waveFileBytes(demo.speech.rateHz, channels, prompts);
    std::string error;
    ASSERT_TRUE(bytes && writeFileAtomically(demoPath, *bytes, error)) << error;

    // At 500 ms the demo holds a steady 'a'. Its fifth formant comes out
    // wider than the 600 Hz a listed formant may be at both orders, so F1-F4
    // are the ones each order must give.
    for (const char* order : {"26", "40"}) {
        SCOPED_TRACE(order);
        const test::CliResult r =
            test::runCli({"spectrum", demoPath, "--at", "500", "--set",
                          std::string("m_nLPCNumberofCoefficients=") + order});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<double> values = spectrumValues(r.out);
        ASSERT_EQ(values.size(), 10u) << r.out;
        for (std::size_t k = 0; k < 4; ++k) {
            const double truth = signals::kVowelA[k].frequencyHz;
            EXPECT_NEAR(values[k], truth, 0.05 * truth) << "F" << k + 1;
            EXPECT_GT(values[5 + k], 0.0) << "B" << k + 1;
        }
    }
    fs::remove_all(dir);
}

} // namespace
} // namespace phonaxis
