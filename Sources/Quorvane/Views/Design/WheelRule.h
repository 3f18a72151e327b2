// WheelRule.h: the mouse wheel changes only a control the person aimed at, and otherwise scrolls
// the page under it.
#pragma once

#include <QObject>
#include <QtGlobal>

#include <optional>

class QWheelEvent;
class QWidget;

namespace quorvane {

/// A closed drop-down, and a slider that the person has not clicked or tabbed to, leave the wheel
/// to the page under them, as does any slider while the wheel goes on turning that scrolled a
/// page, until it rests half a second. An open drop-down gets the wheel in its list, which is
/// another window. The style owns the rule and hands it every widget it polishes; nothing else
/// needs to know of it.
class WheelRule final : public QObject {
public:
    /// Follows the wheel over `widget` when the wheel sets its value, or when it is a page's
    /// viewport, which tells when the wheel last scrolled the page; other widgets are left alone.
    void watch(QWidget& widget);
    /// Stops following `widget`.
    void unwatch(QWidget& widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Whether `wheel` goes on turning the wheel that scrolled a page, as a slider passes under
    /// the pointer: told by the events' own times, as the window system stamps them.
    [[nodiscard]] bool isScrollingAPage(const QWheelEvent& wheel) const;

    /// When the wheel last reached a page; absent until it has.
    std::optional<quint64> m_pageScrolledAt;
};

} // namespace quorvane
