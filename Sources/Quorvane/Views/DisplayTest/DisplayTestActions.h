// What the display-test panel asks of the model: keep or revert the running test.
#pragma once

#include <memory>

namespace quorvane {

class AppModel;

class DisplayTestActions {
public:
    virtual ~DisplayTestActions() = default;

    /// Keeps the mode under test; meant only while the test is confirming.
    virtual void keep() = 0;
    /// Ends the test and returns to the previous mode.
    virtual void revert() = 0;
};

/// The model's own operations; `model` must outlive the result.
[[nodiscard]] std::unique_ptr<DisplayTestActions> modelDisplayTestActions(AppModel& model);

} // namespace quorvane
