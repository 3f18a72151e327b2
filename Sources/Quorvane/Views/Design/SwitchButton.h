// A switch: a checkable button drawn as a sliding knob on a track, green while on, with its
// title beside it.
#pragma once

#include <QAbstractButton>

namespace quorvane {

/// Emits clicked(bool) when the user flips it (mouse or Space); setChecked() emits no click.
class SwitchButton final : public QAbstractButton {
public:
    explicit SwitchButton(const QString& title, QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quorvane
