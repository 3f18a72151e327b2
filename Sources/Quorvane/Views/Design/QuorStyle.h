// The look every window shares: the design colours, the text roles, and the style sheet that
// turns roles into fonts, colours and spacing.
#pragma once

#include <QColor>

class QApplication;
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

/// Gives the application the palette, the widget style and the style sheet of the roles. Call
/// once, before the first window is shown.
void apply(QApplication& application);

/// Marks `widget` with its role; call before the widget is first shown.
void setRole(QWidget& widget, QuorRole role);

/// Sets the state the style sheet draws a role in ("selected", "dropTarget", or "" for none)
/// and redraws the widget when it changed.
void setState(QWidget& widget, const char* state);

} // namespace QuorStyle

} // namespace quorvane
