#pragma once

// A simulated box for a widget test: loaded with the tests' own firmware
// image, handed to the application and found as the launch finds it.

#include "app/Application.h"
#include "hardware/ui/BoxService.h"
#include "support/AnalysisWindowTesting.h"
#include "support/BoxFirmwareTesting.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

namespace phonaxis::test {

// A simulated box of `channels` (9, 5 or 2), present when this returns;
// `clock` is the box's clock (empty: the steady clock).
inline std::unique_ptr<BoxService>
launchSimulatedBox(Application& application, Prompts& prompts, const std::filesystem::path& folder,
                   int channels, std::function<BoxConnection::Clock::time_point()> clock = {})
{
    BoxOptions options;
    options.simulatedChannels = channels;
    options.firmwarePath = writeTestFirmware(folder).string();
    options.clock = std::move(clock);
    auto box = std::make_unique<BoxService>(options, prompts);
    application.setBoxService(box.get());
    box->findHardware();
    EXPECT_TRUE(waitFor([&] { return box->boxPresent(); })) << channels << "-channel box";
    // The arrival is announced once its delivery is over.
    QCoreApplication::processEvents();
    return box;
}

} // namespace phonaxis::test
