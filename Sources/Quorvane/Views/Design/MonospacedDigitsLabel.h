// A one-line label for a number that changes while the user reads it, such as a countdown.
#pragma once

#include <QLabel>

#include <functional>

namespace quorvane {

/// Draws each digit centred in a cell as wide as the font's widest digit, so that the text
/// around a changing number keeps its place whatever the font's own digit widths.
class MonospacedDigitsLabel final : public QLabel {
public:
    explicit MonospacedDigitsLabel(QWidget* parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    /// Calls `place` with each piece of the text (a digit, or a run of other characters), its
    /// left edge and its width, from left to right; returns the width of the whole text.
    int layOut(const std::function<void(const QString& piece, int left, int width)>& place) const;
};

} // namespace quorvane
