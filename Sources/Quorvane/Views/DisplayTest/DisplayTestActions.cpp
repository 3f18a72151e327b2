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

    void keep() override { m_model.keepPreview(); }
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
