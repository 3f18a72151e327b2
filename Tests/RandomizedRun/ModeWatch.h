// What the randomized run follows of the model's display-mode work as it happens, between its
// checks: how long each phase of the display test lasts, and which displays a restore failed on.
#pragma once

#include "Foundation/Date.h"
#include "Foundation/UUID.h"
#include "Quorvane/DisplayPreview.h"
#include "Quorvane/Observable.h"
#include "QuorvaneCore/ControlKey.h"

#include <map>
#include <optional>
#include <string>

namespace quorvane {

class AppModel;

class ModeWatch final {
public:
    /// Follows the model from now on; the model must outlive the watch.
    explicit ModeWatch(AppModel& model);

    // The subscriptions refer to this watch.
    ModeWatch(const ModeWatch&) = delete;
    ModeWatch& operator=(const ModeWatch&) = delete;

    /// The first phase of a display test that lasted longer than its waits allow, or stayed
    /// confirming past its deadline; the phase going on now counts as well.
    [[nodiscard]] std::optional<std::string> overstayedPhase() const;
    /// The text of the display's last failed restore since the watch began; absent when none
    /// failed.
    [[nodiscard]] std::optional<std::string> failedRestore(const std::string& displayID) const;

private:
    void previewChanged();
    void actionErrorChanged();
    void controlStatusChanged();
    /// What is wrong with the phase being watched if it ends at `end`.
    [[nodiscard]] std::optional<std::string> stayProblem(Date end) const;

    AppModel& m_model;
    std::optional<UUID> m_previewID;
    DisplayPreview::Phase m_phase = DisplayPreview::Phase::applying;
    std::optional<Date> m_deadline;
    Date m_since;
    std::optional<std::string> m_problem;
    /// By display identifier.
    std::map<std::string, std::string> m_failedRestores;
    std::map<ControlKey, std::string> m_statuses;
    Subscription m_previewSubscription;
    Subscription m_errorSubscription;
    Subscription m_statusSubscription;
};

} // namespace quorvane
