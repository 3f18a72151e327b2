// A label for names the user chose, which can be longer than the room they get.
#pragma once

#include <QLabel>
#include <QStringList>

namespace quorvane {

/// Ends a text too long for its width with "…" and then offers the whole text as its tooltip.
/// It asks for the whole text's width but makes do with a few characters, so a long name never
/// widens the page that shows it. `text()` stays the whole text. One line unless it may wrap
/// onto more.
class ElidedLabel final : public QLabel {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    /// Hides QLabel::setText, which would not update the tooltip.
    void setText(const QString& text);
    /// Lets the text wrap between words onto up to `count` lines; the last ends with "…" when
    /// the rest does not fit on it.
    void setMaximumLineCount(int count);
    [[nodiscard]] bool isElided() const;

    [[nodiscard]] QSize minimumSizeHint() const override;
    [[nodiscard]] bool hasHeightForWidth() const override;
    [[nodiscard]] int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    /// The lines shown in `width`, the last elided where the text goes on beyond it.
    [[nodiscard]] QStringList shownLines(int width) const;
    void refreshToolTip();

    int m_maximumLineCount = 1;
};

/// The lines `text` takes in `width`, wrapped between words (within a word only where one is
/// longer than a line), at most `maximumLineCount`, the last ending in "…" where the rest does not
/// fit on it.
[[nodiscard]] QStringList elidedLines(
    const QString& text, const QFont& font, int width, int maximumLineCount);

} // namespace quorvane
