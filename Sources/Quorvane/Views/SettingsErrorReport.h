// SettingsErrorReport.h: a settings error as a person reads it, shown in the popover and written
// once to standard error.
#pragma once

#include "Quorvane/Observable.h"

#include <filesystem>
#include <functional>
#include <set>
#include <string>

namespace quorvane {

class AppModel;

/// The message, then on a line of its own the file it is about.
[[nodiscard]] std::string settingsErrorText(
    const std::string& message, const std::filesystem::path& file);

/// Writes every settings error the model shows, each message once however often it is set
/// again, so that a failure is on record even when no window is looked at.
class SettingsErrorLog final {
public:
    /// `print` receives one settingsErrorText() at a time; `model` must outlive the log.
    SettingsErrorLog(AppModel& model, std::function<void(const std::string&)> print);

    // The subscription calls back into this object.
    SettingsErrorLog(const SettingsErrorLog&) = delete;
    SettingsErrorLog& operator=(const SettingsErrorLog&) = delete;

private:
    void report();

    AppModel& m_model;
    std::function<void(const std::string&)> m_print;
    std::set<std::string> m_printed;
    Subscription m_subscription;
};

} // namespace quorvane
