// SimulatedApplication.h: the simulated application's own launch facts and login item.
#pragma once

#include "MacPlatform/LaunchEnvironment.h"
#include "MacPlatform/LoginItems.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quorvane {

/// A launch without options; tests point the folders at a scratch folder of their own.
class SimulatedLaunchEnvironment final : public LaunchEnvironment {
public:
    std::vector<std::string> commandLine{"/Applications/Quorvane.app/Contents/MacOS/Quorvane"};
    std::filesystem::path temporaryFolder = "/tmp";
    std::filesystem::path applicationSupportFolder = "/Users/user/Library/Application Support";

    std::vector<std::string> arguments() override { return commandLine; }
    std::filesystem::path temporaryDirectory() override { return temporaryFolder; }
    std::filesystem::path applicationSupportDirectory() override
    {
        return applicationSupportFolder;
    }
};

/// A login item that was never registered, until a test says otherwise.
class SimulatedLoginItems final : public LoginItemService {
public:
    LoginItemStatus currentStatus = LoginItemStatus::notRegistered;

    LoginItemStatus status() override { return currentStatus; }
};

} // namespace quorvane
