// A one-line label for names the user chose, which can be longer than the room they get.
#pragma once

#include <QLabel>

namespace quorvane {

/// Ends a text too long for its width with "…" and then offers the whole text as its tooltip.
/// It asks for the whole text's width but makes do with a few characters, so a long name never
/// widens the page that shows it. `text()` stays the whole text.
class ElidedLabel final : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    /// Hides QLabel::setText, which would not update the tooltip.
    void setText(const QString& text);
    [[nodiscard]] bool isElided() const;

    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refreshToolTip();
};

} // namespace quorvane
