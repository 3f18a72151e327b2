#include "Quorvane/Views/Design/QuorStyle.h"

#include <QAbstractSlider>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QPalette>
#include <QProxyStyle>
#include <QScrollBar>
#include <QString>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QVariant>
#include <QWidget>

namespace quorvane {

namespace {

constexpr const char* roleProperty = "quorRole";
constexpr const char* stateProperty = "quorState";
constexpr const char* destructiveProperty = "quorDestructive";

const char* roleName(QuorRole role)
{
    switch (role) {
    case QuorRole::eyebrow:
        return "eyebrow";
    case QuorRole::pageTitle:
        return "pageTitle";
    case QuorRole::subtitle:
        return "subtitle";
    case QuorRole::callout:
        return "callout";
    case QuorRole::countdown:
        return "countdown";
    case QuorRole::secondary:
        return "secondary";
    case QuorRole::notice:
        return "notice";
    case QuorRole::card:
        return "card";
    case QuorRole::disclosure:
        return "disclosure";
    case QuorRole::prominent:
        return "prominent";
    case QuorRole::editingHeading:
        return "editingHeading";
    case QuorRole::divider:
        return "divider";
    case QuorRole::copyCard:
        return "copyCard";
    case QuorRole::dialogTitle:
        return "dialogTitle";
    case QuorRole::sidebar:
        return "sidebar";
    case QuorRole::brand:
        return "brand";
    case QuorRole::profileRow:
        return "profileRow";
    case QuorRole::navButton:
        return "navButton";
    case QuorRole::footer:
        return "footer";
    case QuorRole::activeDot:
        return "activeDot";
    case QuorRole::plain:
        return "plain";
    case QuorRole::cell:
        return "cell";
    case QuorRole::cellValue:
        return "cellValue";
    case QuorRole::ruleRow:
        return "ruleRow";
    case QuorRole::ruleName:
        return "ruleName";
    case QuorRole::tableHeader:
        return "tableHeader";
    case QuorRole::ruleConditions:
        return "ruleConditions";
    case QuorRole::emptyState:
        return "emptyState";
    case QuorRole::noticeTitle:
        return "noticeTitle";
    case QuorRole::destructive:
        return "destructive";
    }
    return "";
}

/// Fusion with the habits every window shares.
class QuorProxyStyle final : public QProxyStyle {
public:
    QuorProxyStyle()
        : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
    {
    }

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
        QStyleHintReturn* returnData) const override
    {
        // A red cross on Cancel reads as a warning about cancelling.
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    using QProxyStyle::polish;
    void polish(QWidget* widget) override
    {
        QProxyStyle::polish(widget);
        if (!isSetByTheWheel(*widget))
            return;
        // Otherwise the wheel itself would focus the control on its way to changing it.
        widget->setFocusPolicy(Qt::StrongFocus);
        widget->installEventFilter(this);
    }

    using QProxyStyle::unpolish;
    void unpolish(QWidget* widget) override
    {
        widget->removeEventFilter(this);
        QProxyStyle::unpolish(widget);
    }

    /// A wheel turned over a control that does not take it is meant for the page under it:
    /// ignored here, it goes on to the control's parents. An open drop-down gets the wheel in its
    /// list, which is another window.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Wheel || takesTheWheel(*static_cast<QWidget*>(watched)))
            return false;
        event->ignore();
        return true;
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
        const QWidget* widget) const override
    {
        if (element == CE_MenuItem && isDestructiveEntry(*option, widget)) {
            QStyleOptionMenuItem entry = *qstyleoption_cast<const QStyleOptionMenuItem*>(option);
            entry.palette.setColor(QPalette::Text, QuorStyle::destructive());
            entry.palette.setColor(QPalette::ButtonText, QuorStyle::destructive());
            QProxyStyle::drawControl(element, &entry, painter, widget);
            return;
        }
        if (element == CE_ComboBoxLabel) {
            if (const auto* box = qstyleoption_cast<const QStyleOptionComboBox*>(option)) {
                QStyleOptionComboBox elided = *box;
                const QRect field = subControlRect(CC_ComboBox, box, SC_ComboBoxEditField, widget);
                const int iconWidth = box->currentIcon.isNull() ? 0 : box->iconSize.width() + 4;
                elided.currentText = box->fontMetrics.elidedText(
                    box->currentText, Qt::ElideRight, field.width() - iconWidth - 2);
                QProxyStyle::drawControl(element, &elided, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }

private:
    /// Controls whose value the wheel changes. A scroll bar only scrolls, and scroll areas pass
    /// their own wheel on to theirs.
    static bool isSetByTheWheel(const QWidget& widget)
    {
        return qobject_cast<const QComboBox*>(&widget)
            || (qobject_cast<const QAbstractSlider*>(&widget)
                && !qobject_cast<const QScrollBar*>(&widget));
    }

    /// The drop-downs here are menus, which scrolling never changes, focused or not. A slider
    /// takes the wheel once the user has aimed at it: the wheel alone cannot focus it, a click or
    /// Tab can.
    static bool takesTheWheel(const QWidget& control)
    {
        return !qobject_cast<const QComboBox*>(&control) && control.hasFocus();
    }

    static bool isDestructiveEntry(const QStyleOption& option, const QWidget* widget)
    {
        const auto* menu = qobject_cast<const QMenu*>(widget);
        if (!menu || !(option.state & State_Enabled))
            return false;
        const QAction* action = menu->actionAt(option.rect.center());
        return action && action->property(destructiveProperty).toBool();
    }
};

QString styleSheet()
{
    const QString secondary = QuorStyle::secondaryText().name();
    const QString amber = QuorStyle::amber().name();
    return QStringLiteral(R"(
QWidget { font-size: 13px; }
QPushButton { background: white; border: 1px solid rgba(0, 0, 0, 40); border-radius: 6px;
    padding: 5px 14px; }
QPushButton:hover { background: #FAF8F4; }
QPushButton:pressed { background: #ECE9E3; }
QPushButton:disabled { color: %6; }
[quorRole="eyebrow"] { font-size: 10px; font-weight: 600; color: %1; }
[quorRole="pageTitle"] { font-size: 29px; font-weight: 600; }
[quorRole="subtitle"] { font-size: 13px; color: %1; }
[quorRole="callout"] { font-size: 14px; }
[quorRole="countdown"] { font-size: 16px; font-weight: 500; }
[quorRole="secondary"] { font-size: 11px; color: %1; }
[quorRole="notice"] { background: rgba(232, 163, 61, 26); border-radius: 12px; }
[quorRole="card"] { background: %3; border-radius: 14px; }
[quorRole="disclosure"] { font-size: 17px; font-weight: 600; border: none; background: transparent; }
QPushButton[quorRole="prominent"] { background: %2; color: white; border: none;
    border-radius: 6px; padding: 6px 16px; font-weight: 600; }
QPushButton[quorRole="prominent"]:disabled { background: rgba(232, 163, 61, 110); }
[quorRole="editingHeading"] { font-size: 29px; font-weight: 600; }
[quorRole="divider"] { background: rgba(0, 0, 0, 28); }
[quorRole="copyCard"] { background: %4; border: 1px solid rgba(255, 255, 255, 51);
    border-radius: 12px; }
[quorRole="copyCard"] QLabel { color: white; font-size: 13px; font-weight: 500; }
[quorRole="copyCard"] QToolButton { border: none; background: transparent; }
[quorRole="dialogTitle"] { font-size: 15px; font-weight: 600; }
[quorRole="sidebar"] { background: rgba(255, 255, 255, 110); }
[quorRole="brand"] { font-size: 18px; font-weight: 600; }
[quorRole="profileRow"] { border-radius: 9px; background: transparent; }
[quorRole="profileRow"] QLabel { font-size: 13px; font-weight: 500; }
[quorRole="profileRow"][quorState="selected"] { background: rgba(232, 163, 61, 36); }
[quorRole="profileRow"][quorState="dropTarget"] { background: rgba(47, 158, 92, 41); }
QPushButton[quorRole="navButton"] { text-align: left; border: none; border-radius: 9px;
    padding: 10px; background: transparent; font-weight: 500; }
QPushButton[quorRole="navButton"][quorState="selected"] { background: rgba(0, 0, 0, 18); }
[quorRole="footer"] { font-size: 9px; font-weight: 500; color: %1; }
[quorRole="activeDot"] { background: %4; border-radius: 3px; }
QToolButton[quorRole="plain"] { border: none; background: transparent; }
QToolButton[quorRole="plain"]::menu-indicator { image: none; width: 0; }
QPushButton[quorRole="cell"] { border: none; background: transparent; padding: 0; text-align: left; }
[quorRole="cellValue"] { font-size: 11px; }
[quorRole="cellValue"][quorState="unset"] { color: rgba(110, 110, 115, 166); }
[quorRole="ruleRow"] { background: transparent; }
[quorRole="ruleRow"][quorState="editing"] { background: rgba(232, 163, 61, 18); }
[quorRole="ruleName"] { font-size: 12px; font-weight: 600; }
[quorRole="tableHeader"] { font-size: 10px; font-weight: 600; color: %1; }
[quorRole="ruleConditions"] { font-size: 10px; color: %1; }
[quorRole="emptyState"] { background: %3; border-radius: 16px; }
[quorRole="noticeTitle"] { font-size: 13px; font-weight: 600; }
QPushButton[quorRole="destructive"] { color: %5; }
QPushButton[quorRole="destructive"]:disabled { color: %6; }
)")
        .arg(secondary, amber, QuorStyle::card().name(), QuorStyle::green().name(),
            QuorStyle::destructive().name(), QuorStyle::disabledText().name());
}

} // namespace

namespace QuorStyle {

QColor canvas() { return {0xF4, 0xF2, 0xEE}; }
QColor card() { return {0xFF, 0xFF, 0xFF}; }
QColor primaryText() { return {0x1D, 0x1D, 0x1F}; }
QColor secondaryText() { return {0x6E, 0x6E, 0x73}; }
QColor amber() { return {0xE8, 0xA3, 0x3D}; }
QColor green() { return {0x2F, 0x9E, 0x5C}; }
QColor disabledText() { return {0xA8, 0xA8, 0xAD}; }
QColor destructive() { return {0xD7, 0x30, 0x28}; }

void apply(QApplication& application)
{
    // One widget style everywhere, so that the windows look the same on every desktop.
    QApplication::setStyle(new QuorProxyStyle);
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, canvas());
    palette.setColor(QPalette::Base, card());
    palette.setColor(QPalette::PlaceholderText, secondaryText());
    palette.setColor(QPalette::Highlight, amber());
    // Text in the active and inactive windows only: disabled text keeps a look of its own.
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (const QPalette::ColorRole role :
            {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(group, role, primaryText());
    }
    for (const QPalette::ColorRole role :
        {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText());
    palette.setColor(QPalette::Disabled, QPalette::Base, canvas());
    QApplication::setPalette(palette);
    application.setStyleSheet(styleSheet());
}

void markDestructive(QAction& action) { action.setProperty(destructiveProperty, true); }

void setRole(QWidget& widget, QuorRole role)
{
    widget.setProperty(roleProperty, roleName(role));
    // A widget that some container has shown or laid out already is polished: match it again.
    if (widget.testAttribute(Qt::WA_WState_Polished)) {
        widget.style()->unpolish(&widget);
        widget.style()->polish(&widget);
    }
}

void setState(QWidget& widget, const char* state)
{
    if (widget.property(stateProperty).toString() == QLatin1String(state))
        return;
    widget.setProperty(stateProperty, state);
    // The style sheet matches properties only when it polishes the widget.
    widget.style()->unpolish(&widget);
    widget.style()->polish(&widget);
    widget.update();
}

} // namespace QuorStyle

} // namespace quorvane
