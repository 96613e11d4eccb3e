#pragma once

// A whole application for a widget test: its own temporary folder (with a
// configuration folder and a temporary-files folder), the process-wide
// settings and globals, and scripted answers to every prompt. The folder is
// named after the running test and removed afterwards.

#include "app/Application.h"
#include "app/MainWindowController.h"
#include "app/Startup.h"
#include "display/MainViewPane.h"
#include "document/AppSettings.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace phonaxis::test {

class AppFixture : public ::testing::Test {
protected:
    explicit AppFixture(const std::string& folderPrefix)
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::filesystem::temp_directory_path() / (folderPrefix + info->name());
        std::filesystem::remove_all(folder);
        // Backups are made only in a folder private to this user.
        std::filesystem::create_directories(folder / "tmp");
        std::filesystem::permissions(folder / "tmp", std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        settings.m_strConfigFolder = (folder / "config").string();
        globals.appPathTemp = (folder / "tmp").string();
        globals.gstrVersion = kApplicationVersion;
        application = std::make_unique<Application>(settings, globals, &prompts);
    }
    ~AppFixture() override
    {
        application.reset();
        std::filesystem::remove_all(folder);
    }

    // Writes `bytes` to `name` in the test's folder and opens it in a shown
    // window of `width` × `height`, drawn once; null when it does not open.
    MainWindowController* openShown(const Bytes& bytes, const std::string& name, int width = 700,
                                    int height = 400)
    {
        const std::filesystem::path path = folder / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        MainWindowController* window = application->openPath(QString::fromStdString(path.string()));
        if (window != nullptr) {
            window->resize(width, height);
            window->show();
            window->mainView()->repaint();
        }
        return window;
    }

    std::filesystem::path folder;
    AppSettings settings;
    ApplicationGlobals globals;
    ScriptedPrompts prompts;
    std::unique_ptr<Application> application;
};

} // namespace phonaxis::test
