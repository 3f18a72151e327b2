// SimulatedApplication.h: the simulated application's own launch facts, login item and shell.
#pragma once

#include "MacPlatform/ApplicationShell.h"
#include "MacPlatform/LaunchEnvironment.h"
#include "MacPlatform/LoginItems.h"

#include <filesystem>
#include <optional>
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

/// A login item that was never registered, until a test says otherwise. A register moves it to
/// `statusAfterRegister`, an unregister to not registered; with `failure` set both throw that
/// text and change nothing.
class SimulatedLoginItems final : public LoginItemService {
public:
    LoginItemStatus currentStatus = LoginItemStatus::notRegistered;
    LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
    std::optional<std::string> failure;
    int registrations = 0;
    int unregistrations = 0;

    LoginItemStatus status() override { return currentStatus; }
    void registerItem() override
    {
        ++registrations;
        if (failure)
            throw LoginItemError(*failure);
        currentStatus = statusAfterRegister;
    }
    void unregisterItem() override
    {
        ++unregistrations;
        if (failure)
            throw LoginItemError(*failure);
        currentStatus = LoginItemStatus::notRegistered;
    }
};

/// Starts as an accessory application; counts the termination requests instead of ending.
class SimulatedApplicationShell final : public ApplicationShell {
public:
    ActivationPolicy policy = ActivationPolicy::accessory;
    int terminationRequests = 0;

    ActivationPolicy activationPolicy() override { return policy; }
    void setActivationPolicy(ActivationPolicy newPolicy) override { policy = newPolicy; }
    void terminate() override { ++terminationRequests; }
};

} // namespace quorvane
