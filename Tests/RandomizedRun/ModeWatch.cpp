#include "ModeWatch.h"

#include "Concurrency/Executor.h"
#include "Quorvane/AppModel.h"

#include <chrono>
#include <string_view>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Phase = DisplayPreview::Phase;

/// What one change of mode waits for in the backend: an HDR switch settles for 2 s, a mode switch
/// for 0.5 s.
constexpr auto switchWaits = 2500ms;
/// The longest a test may stay applying, verifying or reverting: a change and the restore after
/// it, behind the display's stopped writes and the hardware work queued before them.
constexpr auto longestStay = 2 * switchWaits + 3s;

constexpr std::string_view restoreFailurePrefix = "Recovery could not be confirmed: ";

bool isRestoreFailure(const std::string& text) { return text.starts_with(restoreFailurePrefix); }

std::string nameOf(Phase phase)
{
    switch (phase) {
    case Phase::applying:
        return "applying";
    case Phase::confirming:
        return "confirming";
    case Phase::verifying:
        return "verifying";
    case Phase::reverting:
        return "reverting";
    }
    return "?";
}

std::string millisecondsOf(std::chrono::system_clock::duration duration)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count())
        + " ms";
}

} // namespace

ModeWatch::ModeWatch(AppModel& model)
    : m_model(model)
    , m_since(model.executor().wallNow())
    , m_statuses(model.controlStatus.get())
{
    previewChanged();
    m_previewSubscription = model.preview.observe([this] { previewChanged(); });
    m_errorSubscription = model.actionError.observe([this] { actionErrorChanged(); });
    m_statusSubscription = model.controlStatus.observe([this] { controlStatusChanged(); });
}

std::optional<std::string> ModeWatch::overstayedPhase() const
{
    if (m_problem || !m_previewID)
        return m_problem;
    return stayProblem(m_model.executor().wallNow());
}

std::optional<std::string> ModeWatch::failedRestore(const std::string& displayID) const
{
    const auto found = m_failedRestores.find(displayID);
    if (found == m_failedRestores.end())
        return std::nullopt;
    return found->second;
}

void ModeWatch::previewChanged()
{
    const std::optional<DisplayPreview>& preview = m_model.preview.get();
    const std::optional<UUID> previewID = preview ? std::optional(preview->id) : std::nullopt;
    if (preview && previewID == m_previewID && preview->phase == m_phase) {
        m_deadline = preview->deadline;
        return;
    }
    if (!preview && !m_previewID)
        return;
    const Date now = m_model.executor().wallNow();
    if (m_previewID && !m_problem)
        m_problem = stayProblem(now);
    m_previewID = previewID;
    m_since = now;
    if (preview) {
        m_phase = preview->phase;
        m_deadline = preview->deadline;
    }
}

std::optional<std::string> ModeWatch::stayProblem(Date end) const
{
    if (m_phase == Phase::confirming) {
        if (m_deadline && end > *m_deadline)
            return "the display test was confirming " + millisecondsOf(end - *m_deadline)
                + " past its deadline";
        return std::nullopt;
    }
    if (end - m_since > longestStay)
        return "the display test was " + nameOf(m_phase) + " for " + millisecondsOf(end - m_since);
    return std::nullopt;
}

void ModeWatch::actionErrorChanged()
{
    // A failed restore of a test shows in actionError while the test still stands.
    const std::optional<std::string>& error = m_model.actionError.get();
    const std::optional<DisplayPreview>& preview = m_model.preview.get();
    if (error && preview && isRestoreFailure(*error))
        m_failedRestores.insert_or_assign(preview->displayID, *error);
}

void ModeWatch::controlStatusChanged()
{
    // A failed restore of an automatic change shows as the display's mode status.
    const std::map<ControlKey, std::string>& statuses = m_model.controlStatus.get();
    for (const auto& [key, status] : statuses) {
        const auto before = m_statuses.find(key);
        const bool isNew = before == m_statuses.end() || before->second != status;
        if (isNew && isRestoreFailure(status))
            m_failedRestores.insert_or_assign(key.target.id(), status);
    }
    m_statuses = statuses;
}

} // namespace quorvane
