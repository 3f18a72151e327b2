#include "Quorvane/Views/SettingsErrorReport.h"

#include "Quorvane/AppModel.h"

#include <utility>

namespace quorvane {

std::string settingsErrorText(const std::string& message, const std::filesystem::path& file)
{
    return message + "\nSettings file: " + file.string();
}

SettingsErrorLog::SettingsErrorLog(AppModel& model, std::function<void(const std::string&)> print)
    : m_model(model)
    , m_print(std::move(print))
    , m_subscription(model.settingsError.observe([this] { report(); }))
{
    report();
}

void SettingsErrorLog::report()
{
    const std::optional<std::string>& message = m_model.settingsError.get();
    if (message && m_printed.insert(*message).second)
        m_print(settingsErrorText(*message, m_model.settingsURL));
}

} // namespace quorvane
