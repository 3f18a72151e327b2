// The look every window shares: the design colours, the text roles, and the style sheet that
// turns roles into fonts, colours and spacing.
#pragma once

#include <QColor>
#include <QPen>

class QAction;
class QApplication;
class QPainter;
class QRectF;
class QWidget;

namespace quorvane {

/// What a widget is for; the shared style sheet gives each role its font and colours.
enum class QuorRole {
    eyebrow,
    pageTitle,
    subtitle,
    callout,
    countdown,
    secondary,
    notice,
    card,
    disclosure,
    prominent,
    editingHeading,
    divider,
    copyCard,
    dialogTitle,
    sidebar,
    brand,
    profileRow,
    navButton,
    footer,
    activeDot,
    plain,
    cell,
    cellValue,
    ruleRow,
    ruleName,
    tableHeader,
    ruleConditions,
    emptyState,
    noticeTitle,
    destructive,
};

namespace QuorStyle {

/// The window background.
[[nodiscard]] QColor canvas();
/// The background of controls and cards.
[[nodiscard]] QColor card();
[[nodiscard]] QColor primaryText();
[[nodiscard]] QColor secondaryText();
[[nodiscard]] QColor amber();
[[nodiscard]] QColor green();
/// Text of what cannot be used now.
[[nodiscard]] QColor disabledText();
/// Titles of actions that destroy something.
[[nodiscard]] QColor destructive();
/// The outline of the control that has the keyboard focus, however it got it: the pen of the
/// focus ring, for a control that draws the ring in a shape of its own.
[[nodiscard]] QPen focusRingPen();
/// Draws the focus ring just inside `bounds`. The style draws it on every control it draws; a
/// control that paints itself, or whose look the style sheet draws, calls this while focused.
void drawFocusRing(QPainter& painter, const QRectF& bounds);

/// Gives the application the palette, the widget style and the style sheet of the roles. Call
/// once, before the first window is shown. The widget style is Fusion, whose widgets follow the
/// wheel's rule (WheelRule.h); a drop-down too narrow for its entry ends it with "…", dialog
/// buttons carry no pictures, and menu entries marked destructive are drawn in that colour.
/// Disabled text and controls take the disabled colours. A control with the keyboard focus shows
/// it in the focus ring, however it got the focus.
void apply(QApplication& application);

/// Draws the menu entry in the destructive colour while it is enabled.
void markDestructive(QAction& action);

/// Marks `widget` with its role.
void setRole(QWidget& widget, QuorRole role);

/// Sets the state the style sheet draws a role in ("selected", "dropTarget", or "" for none)
/// and redraws the widget when it changed.
void setState(QWidget& widget, const char* state);

} // namespace QuorStyle

} // namespace quorvane
