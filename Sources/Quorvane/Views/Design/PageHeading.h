// The heading at the top of a page or panel: a small eyebrow line, the title on one line unless
// it may wrap (a long one ends with "…") and an optional subtitle.
#pragma once

#include <QWidget>

#include <optional>

class QLabel;

namespace quorvane {

class ElidedLabel;

class PageHeading final : public QWidget {
public:
    PageHeading(const QString& eyebrow, const QString& title,
        const std::optional<QString>& subtitle, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    /// Lets a long title wrap onto up to `count` lines before it ends with "…".
    void setTitleLineCount(int count);
    /// Hides the subtitle line when absent.
    void setSubtitle(const std::optional<QString>& subtitle);

private:
    QLabel* m_eyebrow;
    ElidedLabel* m_title;
    QLabel* m_subtitle;
};

} // namespace quorvane
