#pragma once

// A whole application for a widget test: its own temporary folder (with a
// configuration folder and a temporary-files folder), the process-wide
// settings and globals, and scripted answers to every prompt. The folder is
// named after the running test and removed afterwards.

#include "app/Application.h"
#include "app/Startup.h"
#include "document/AppSettings.h"
#include "support/ScriptedPrompts.h"

#include <gtest/gtest.h>

#include <filesystem>
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

    std::filesystem::path folder;
    AppSettings settings;
    ApplicationGlobals globals;
    ScriptedPrompts prompts;
    std::unique_ptr<Application> application;
};

} // namespace phonaxis::test
