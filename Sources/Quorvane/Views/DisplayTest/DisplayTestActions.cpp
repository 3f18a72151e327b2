#include "Quorvane/Views/DisplayTest/DisplayTestActions.h"

#include "Quorvane/AppModel.h"

namespace quorvane {

namespace {

class ModelActions final : public DisplayTestActions {
public:
    explicit ModelActions(AppModel& model)
        : m_model(model)
    {
    }

    // FIXME: call the model's keep operation once the mode preview offers one.
    void keep() override { }
    void revert() override { m_model.cancelPreview(); }

private:
    AppModel& m_model;
};

} // namespace

std::unique_ptr<DisplayTestActions> modelDisplayTestActions(AppModel& model)
{
    return std::make_unique<ModelActions>(model);
}

} // namespace quorvane
