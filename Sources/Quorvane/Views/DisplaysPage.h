// DisplaysPage.h: each connected display's adjustable controls, with their holds and Resume.
#pragma once

#include "Quorvane/Observable.h"
#include "QuorvaneCore/ControlKey.h"

#include <QWidget>

#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QVBoxLayout;

namespace quorvane {

class AppModel;

/// One group per display and one row per available brightness or contrast control: a slider
/// that adjusts the control by hand, its value, where the value comes from, its hold, and a
/// Resume for that control; above them a Resume for every control. Reads the model and calls
/// its operations; redraws when what it shows changes.
class DisplaysPage final : public QWidget {
public:
    /// `model` must outlive the page.
    explicit DisplaysPage(AppModel& model, QWidget* parent = nullptr);
    ~DisplaysPage() override;

    /// The row of one control, for tests and screenshots; null when the page shows no such row.
    [[nodiscard]] QWidget* rowOf(const ControlKey& key) const;

private:
    struct Row {
        ControlKey key;
        QWidget* widget;
        QSlider* slider;
        QLabel* value;
        QLabel* source;
        QLabel* hold;
        QPushButton* resume;
    };

    /// A control to show, under its display's name.
    struct Shown {
        std::string displayName;
        ControlKey key;
        bool operator==(const Shown&) const = default;
    };

    /// The controls to show, in display order; rebuilding only when they change keeps a slider
    /// that the user is dragging alive.
    [[nodiscard]] std::vector<Shown> shownControls() const;
    void rebuildIfNeeded();
    Row makeRow(const ControlKey& key, QWidget* parent);
    void refresh();
    void refreshRow(const Row& row);
    void adjust(const ControlKey& key, int position);

    AppModel& m_model;
    QPushButton* m_resumeAll;
    QVBoxLayout* m_displaysLayout;
    QLabel* m_emptyNote;
    std::vector<QGroupBox*> m_groups;
    std::vector<Row> m_rows;
    std::vector<Shown> m_shown;
    std::vector<Subscription> m_subscriptions;
};

} // namespace quorvane
