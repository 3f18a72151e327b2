// The one display-mode test in progress: the mode under test, the mode to return to, and how
// far the Keep/Revert test has come.
#pragma once

#include "Foundation/Date.h"
#include "Foundation/UUID.h"
#include "Quorvane/Observable.h"
#include "QuorvaneCore/DisplayResolution.h"
#include "QuorvaneCore/SettingValue.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane {

/// Identified by `id`. Holds a callback, so it has no value equality.
struct DisplayPreview {
    enum class Phase {
        applying,
        confirming,
        verifying,
        reverting,
    };

    UUID id;
    std::string displayID{};
    /// The display's name when the test started.
    std::string name{};
    /// The mode under test; the mode read back once it was applied.
    ModeConfiguration requested{};
    /// What a revert returns to.
    ModeConfiguration original{};
    /// The display's connection environment when the test started.
    std::string environment{};
    /// Started by a manual control: a kept test becomes manual holds.
    bool manual = false;
    /// The mode keys the caller asked for: hdr, then refreshRate.
    std::vector<SettingKey> manualKeys{};
    /// After Keep, the previous mode comes back: the combination is approved, not kept on screen.
    bool restoreAfterKeep = false;
    Phase phase = Phase::applying;
    /// The platform's recovery token; absent in the demo and until it is taken.
    std::optional<UUID> recovery{};
    /// Keep is accepted until then; set once the test is confirming.
    std::optional<Date> deadline{};
    /// The keep button's title.
    std::string confirmationTitle{};
    /// Called once when the test ends: true when kept.
    std::function<void(bool)> completion{};
};

/// The keep titles of the tests the model starts on its own to put a display right; their Keep
/// saves nothing.
inline constexpr std::string_view keepProfileResolutionTitle = "Keep profile resolution";
inline constexpr std::string_view restorePreviousSettingsTitle = "Restore previous settings";

/// Whether a Keep leads to a save: the caller waits for the test, and the model did not start it
/// on its own.
[[nodiscard]] inline bool keepSaves(const DisplayPreview& preview)
{
    return preview.completion && preview.confirmationTitle != keepProfileResolutionTitle
        && preview.confirmationTitle != restorePreviousSettingsTitle;
}

/// The model's one preview. Every write, a new value or a change of one field, stores the value
/// and then hands it to the display-test panel before any other observer hears of it, so the
/// panel can never show a preview the model no longer has.
class PreviewField final {
public:
    /// `present` shows the stored value in the panel; it runs after every write.
    explicit PreviewField(std::function<void()> present)
        : m_present(std::move(present))
    {
    }

    // The panel callback refers to the owner of this field.
    PreviewField(const PreviewField&) = delete;
    PreviewField& operator=(const PreviewField&) = delete;

    [[nodiscard]] const std::optional<DisplayPreview>& get() const noexcept { return m_value; }
    [[nodiscard]] const std::optional<DisplayPreview>* operator->() const noexcept
    {
        return &m_value;
    }
    [[nodiscard]] const std::optional<DisplayPreview>& operator*() const noexcept
    {
        return m_value;
    }

    void set(std::optional<DisplayPreview> value)
    {
        m_value = std::move(value);
        stored();
    }

    /// Changes the value in place through `change(std::optional<DisplayPreview>&)`.
    template <typename Change> void modify(Change&& change)
    {
        std::forward<Change>(change)(m_value);
        stored();
    }

    /// Called after every write, once the panel has been updated.
    [[nodiscard]] Subscription observe(std::function<void()> observer) const
    {
        return m_signal.observe(std::move(observer));
    }

private:
    void stored()
    {
        m_present();
        m_signal.notify();
    }

    std::optional<DisplayPreview> m_value;
    std::function<void()> m_present;
    ChangeSignal m_signal;
};

} // namespace quorvane
