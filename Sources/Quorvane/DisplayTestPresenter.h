// The display-test panel as the model sees it: the views implement it, so the model never
// knows the toolkit.
#pragma once

namespace quorvane {

class AppModel;

class DisplayTestPresenter {
public:
    virtual ~DisplayTestPresenter() = default;

    /// Shows, re-centres or closes the panel for the model's current preview. Called after
    /// every change of it, with the new value already stored.
    virtual void update(AppModel& model) = 0;
};

} // namespace quorvane
