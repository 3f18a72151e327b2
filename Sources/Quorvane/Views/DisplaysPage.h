// DisplaysPage.h: each connected display's controls: brightness, contrast and temperature with
// their holds and Resume, and the display's mode.
#pragma once

#include "Quorvane/Views/ControlStatusLine.h"
#include "Quorvane/Views/Design/ViewRefresh.h"
#include "QuorvaneCore/ControlKey.h"

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QToolButton;
class QVBoxLayout;

namespace quorvane {

class AppModel;
class EditingTextField;

/// Whether each display's name can be changed in place.
enum class DisplayNaming {
    fixed,
    editable,
};

/// One card per display with a row per available brightness, contrast or temperature control: a
/// slider that adjusts the control by hand, its value, where the value comes from and the
/// control's status, its hold, and a Resume for that control; under them the display's mode. Above
/// the cards a Resume for every control. Reads the model and calls its operations; redraws when
/// what it shows changes.
class DisplaysPage final : public QWidget {
public:
    /// `model` must outlive the page.
    explicit DisplaysPage(
        AppModel& model, QWidget* parent = nullptr, DisplayNaming naming = DisplayNaming::fixed);
    ~DisplaysPage() override;

    /// The row of one control, for tests and screenshots; null when the page shows no such row.
    [[nodiscard]] QWidget* rowOf(const ControlKey& key) const;
    /// The card of one display; null when the page shows none.
    [[nodiscard]] QWidget* cardOf(const std::string& displayID) const;

    // Renaming in place; only with DisplayNaming::editable.
    [[nodiscard]] const std::optional<std::string>& renamingDisplayID() const
    {
        return m_renamingDisplayID;
    }
    /// Opens the name field of the display, closing any other.
    void beginRename(const std::string& displayID);

private:
    struct Row {
        ControlKey key;
        QWidget* widget;
        QSlider* slider;
        QLabel* value;
        /// Where the value comes from, then the control's status.
        QLabel* source;
        HoldLine hold;
    };
    struct Card {
        std::string displayID;
        QFrame* frame;
        QLabel* name;
        QToolButton* rename;
        EditingTextField* nameField;
    };

    /// A display to show with the controls it offers. Not its name: a rename keeps the card.
    struct Shown {
        std::string displayID;
        std::vector<SettingKey> settings;
        bool hasModes;
        bool operator==(const Shown&) const = default;
    };

    /// The displays to show, in display order; rebuilding only when they change keeps a slider
    /// that the user is dragging alive.
    [[nodiscard]] std::vector<Shown> shownDisplays() const;
    void rebuildIfNeeded();
    Card makeCard(const Shown& display);
    Row makeRow(const ControlKey& key, QWidget* parent);
    void refresh();
    void refreshRow(const Row& row);
    void refreshCard(const Card& card);
    void adjust(const ControlKey& key, int position);
    void endRename(bool commit);

    AppModel& m_model;
    DisplayNaming m_naming;
    QPushButton* m_resumeAll;
    QVBoxLayout* m_displaysLayout;
    QLabel* m_emptyNote;
    std::vector<Card> m_cards;
    std::vector<Row> m_rows;
    std::vector<Shown> m_shown;
    std::optional<std::string> m_renamingDisplayID;
    ViewRefresh m_refresh;
};

} // namespace quorvane
