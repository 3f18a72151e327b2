#include "Quorvane/Views/Design/QuorStyle.h"

#include "Quorvane/Views/Design/WheelRule.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QRadioButton>
#include <QScrollArea>
#include <QString>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QVariant>
#include <QWidget>

#include <optional>

namespace quorvane {

namespace {

constexpr const char* roleProperty = "quorRole";
constexpr const char* stateProperty = "quorState";
constexpr const char* destructiveProperty = "quorDestructive";
// The corners of the ring the style draws; the buttons' own corners.
constexpr qreal focusRingRadius = 6;
// Room between a check box's label and its ring.
constexpr int labelPadding = 4;

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

bool hasRole(const QWidget* widget, QuorRole role)
{
    return widget && widget->property(roleProperty).toString() == QLatin1String(roleName(role));
}

/// Strokes a rounded rectangle `inset` inside `bounds`.
void strokeInside(
    QPainter& painter, const QPen& pen, const QRectF& bounds, qreal inset, qreal radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), radius, radius);
    painter.restore();
}

/// The ring on a control the style draws. On a control filled with the ring's own colour (a
/// prominent button, a selected row), a line of the card's colour inside the ring sets it apart.
void ringControl(QPainter& painter, const QRectF& bounds, bool isOnRingColour)
{
    if (isOnRingColour) {
        const qreal width = QuorStyle::focusRingPen().widthF();
        strokeInside(
            painter, QPen(QuorStyle::card(), width), bounds, width * 1.5, focusRingRadius - width);
    }
    QuorStyle::drawFocusRing(painter, bounds);
}

/// Fusion with the habits every window shares, and the wheel's rule over every widget it polishes.
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
        // The menu bar only carries Quit, which has its shortcut: an Alt press that a drop-down's
        // Alt+Down left alone must not put the keyboard where Up and Return quit.
        if (hint == SH_MenuBar_AltKeyNavigation)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    using QProxyStyle::polish;
    void polish(QWidget* widget) override
    {
        QProxyStyle::polish(widget);
        // A page takes a click beside its controls, and with it the focus from them, but it is no
        // tab stop, having no ring to show: Tab goes from control to control.
        if (qobject_cast<QScrollArea*>(widget))
            widget->setFocusPolicy(Qt::ClickFocus);
        m_wheelRule.watch(*widget);
    }

    using QProxyStyle::unpolish;
    void unpolish(QWidget* widget) override
    {
        m_wheelRule.unwatch(*widget);
        QProxyStyle::unpolish(widget);
    }

    /// Fusion shows focus only once the window has seen a Tab, and each kind of control in a
    /// look of its own. Here a focused control always shows it, in the ring the switches and the
    /// profile rows draw: in place of Fusion's focus rectangle, and over the fields, drop-downs,
    /// slider handles and tool buttons that Fusion marks otherwise.
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
        const QWidget* widget) const override
    {
        const auto draw = [&](const QStyleOption* shown) {
            QProxyStyle::drawPrimitive(element, shown, painter, widget);
        };
        if (element == PE_FrameFocusRect) {
            // Of the focus rectangles drawn here, only a row's is ever selected.
            const bool isSelectedRow = option->state & State_Selected;
            return ringControl(*painter, ringBounds(*option, widget),
                isSelectedRow || hasRole(widget, QuorRole::prominent));
        }
        if (element == PE_PanelLineEdit && option->state & State_HasFocus)
            return drawRinged<QStyleOptionFrame>(*option, option->rect, *painter, widget, draw);
        draw(option);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
        QPainter* painter, const QWidget* widget) const override
    {
        const auto draw = [&](const QStyleOptionComplex* shown) {
            QProxyStyle::drawComplexControl(control, shown, painter, widget);
        };
        if (!(option->state & State_HasFocus))
            return draw(option);
        switch (control) {
        case CC_ComboBox:
            return drawRinged<QStyleOptionComboBox>(*option, option->rect, *painter, widget, draw);
        case CC_Slider: // the handle is what the keys move
            return drawRinged<QStyleOptionSlider>(*option,
                subControlRect(control, option, SC_SliderHandle, widget), *painter, widget, draw);
        case CC_ToolButton:
            return drawRinged<QStyleOptionToolButton>(
                *option, option->rect, *painter, widget, draw);
        default:
            return draw(option);
        }
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
        if (const std::optional<QRectF> ring = ringOver(element, *option, widget))
            ringControl(*painter, *ring, hasRole(widget, QuorRole::prominent));
    }

private:
    /// Draws the focused element as if unfocused, through `draw`, then the ring round `bounds`;
    /// an option that is no `Option` is drawn as it is.
    template <typename Option, typename Given, typename Draw>
    static void drawRinged(const Given& option, const QRectF& bounds, QPainter& painter,
        const QWidget* widget, Draw draw)
    {
        const auto* typed = qstyleoption_cast<const Option*>(&option);
        if (!typed)
            return draw(&option);
        Option unfocused = *typed;
        unfocused.state &= ~State_HasFocus;
        draw(&unfocused);
        ringControl(painter, bounds, hasRole(widget, QuorRole::prominent));
    }

    /// Where a focused control that Fusion has drawn takes the ring over it; absent where it
    /// takes none. The tool buttons the style sheet draws hand only their label to the style,
    /// and a list with no current row has no row to ring.
    static std::optional<QRectF> ringOver(
        ControlElement element, const QStyleOption& option, const QWidget* widget)
    {
        if (!(option.state & State_HasFocus) || !widget)
            return std::nullopt;
        if (element == CE_ToolButtonLabel)
            return widget->rect();
        if (element == CE_ShapedFrame && hasNoCurrentRow(widget))
            return option.rect;
        return std::nullopt;
    }

    static bool hasNoCurrentRow(const QWidget* widget)
    {
        const auto* list = qobject_cast<const QAbstractItemView*>(widget);
        return list && !list->currentIndex().isValid();
    }

    /// A button's ring goes round the whole button, not round its label as Fusion's rectangle
    /// does; a check box's or radio button's round its box and label, whatever room the layout
    /// gives it beyond them; a list's round its current row.
    static QRectF ringBounds(const QStyleOption& option, const QWidget* widget)
    {
        if (qobject_cast<const QCheckBox*>(widget) || qobject_cast<const QRadioButton*>(widget))
            return QRect(0, 0, option.rect.right() + labelPadding, widget->height())
                & widget->rect();
        if (qobject_cast<const QAbstractButton*>(widget))
            return widget->rect();
        return option.rect;
    }

    static bool isDestructiveEntry(const QStyleOption& option, const QWidget* widget)
    {
        const auto* menu = qobject_cast<const QMenu*>(widget);
        if (!menu || !(option.state & State_Enabled))
            return false;
        const QAction* action = menu->actionAt(option.rect.center());
        return action && action->property(destructiveProperty).toBool();
    }

    WheelRule m_wheelRule;
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
QPen focusRingPen() { return {amber(), 1.5}; }

void drawFocusRing(QPainter& painter, const QRectF& bounds)
{
    const QPen pen = focusRingPen();
    strokeInside(painter, pen, bounds, pen.widthF() / 2, focusRingRadius);
}

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
