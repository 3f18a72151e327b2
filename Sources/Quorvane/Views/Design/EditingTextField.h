// A one-line field for renaming in place: Return or Enter submits, Escape cancels, and a real
// loss of focus (a click or Tab elsewhere) reports a blur.
#pragma once

#include <QLineEdit>

namespace quorvane {

/// A menu opening, the window deactivating or a popup taking the keyboard is no blur: the user
/// is still renaming. After a submit or cancel the field reports nothing more until it is
/// focused again, so that closing it reports no blur.
class EditingTextField final : public QLineEdit {
    Q_OBJECT

public:
    enum class Size {
        body,
        heading,
    };

    EditingTextField(const QString& title, Size size, QWidget* parent = nullptr);

    /// Shows the model's text, unless the user is typing: while the field has the keyboard or
    /// holds text the user changed, their text stays.
    void showModelText(const QString& text);

signals:
    void submitted();
    void cancelled();
    void blurred();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool m_isFinished = false;
};

} // namespace quorvane
