// A notice: a symbol and a message on a tinted card, for what the user should know about a page.
#pragma once

#include <QFrame>

#include <string_view>

class QLabel;

namespace quorvane {

class Notice final : public QFrame {
public:
    /// `symbol` names the picture: "exclamationmark.triangle" a warning, anything else a note.
    Notice(const QString& message, std::string_view symbol, QWidget* parent = nullptr);

    void setMessage(const QString& message);

private:
    QLabel* m_message;
};

} // namespace quorvane
