// The application's mark: an amber tile with a rising sun, painted at any size.
#pragma once

#include <QWidget>

class QPainter;

namespace quorvane {

class QuorMark final : public QWidget {
public:
    /// `size` is the side of the square, in points.
    explicit QuorMark(int size, QWidget* parent = nullptr);

    /// Paints the mark into the square of side `size` at the painter's origin.
    static void paint(QPainter& painter, int size);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quorvane
