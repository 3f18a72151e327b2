// QtOpenPanel.h: the running application's open panel: a modal window that browses the folders
// of application bundles and gives back the ones the user picked.
#pragma once

#include "MacPlatform/OpenPanel.h"

#include <QDialog>

#include <filesystem>
#include <vector>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QStackedWidget;

namespace quorvane {

class ApplicationCatalog;
class ElidedLabel;

/// Shows one folder of the catalog at a time: its folders and application bundles by name, in
/// the desktop's order of names, hidden names left out, or a line saying that it cannot be
/// listed. A double-click opens a folder, and so does Return on the folder with the focus ring;
/// "Enclosing folder" (Alt+Up) goes up and selects the folder it came from. Any row can be
/// selected, several at once when the request allows that, but only what the request allows is
/// chosen. Open, the default button, ends the window accepted with the selection; a double-click
/// on a bundle does too. Cancel, Escape and closing the window end it rejected.
///
/// The catalog holds folders and bundles only, so an entry that opens as no bundle is a folder.
/// Bundles other than applications are neither folders nor choosable: they are not listed.
class OpenPanelWindow final : public QDialog {
public:
    /// `catalog` must outlive the window. Opens the request's folder.
    OpenPanelWindow(
        ApplicationCatalog& catalog, OpenPanelRequest request, QWidget* parent = nullptr);

    /// Shows `folder`, and drops the selection made in the folder shown before.
    void openFolder(std::filesystem::path folder);
    /// The folder shown.
    [[nodiscard]] const std::filesystem::path& folder() const { return m_folder; }
    /// What is chosen now, in the order the panel lists it.
    [[nodiscard]] std::vector<std::filesystem::path> selection() const;
    /// ok with the selection once the window ended accepted; cancel with nothing otherwise.
    [[nodiscard]] OpenPanelAnswer answer() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Kind { folder, application };
    struct Entry {
        std::filesystem::path location;
        Kind kind;
        QString name;
    };

    [[nodiscard]] std::vector<Entry> entriesOf(const std::vector<std::filesystem::path>& contents);
    [[nodiscard]] bool isChoosable(const Entry& entry) const;
    void showEntries(const std::vector<Entry>& entries);
    void showMessage(const QString& message);
    void openEnclosingFolder();
    void activate(QListWidgetItem* item);
    void pressReturn();
    void updateButtons();
    /// Whether `row` is selected and the request allows choosing it.
    [[nodiscard]] bool isChosen(int row) const;
    /// The entry shown in `row`; none for a row that is not there.
    [[nodiscard]] const Entry* entryAt(int row) const;

    ApplicationCatalog& m_catalog;
    OpenPanelRequest m_request;
    std::filesystem::path m_folder;
    /// The entries shown, by row.
    std::vector<Entry> m_entries;
    QPushButton* m_up;
    ElidedLabel* m_location;
    QStackedWidget* m_pages;
    QListWidget* m_list;
    QLabel* m_message;
    QPushButton* m_open;
};

/// Runs an OpenPanelWindow over the active window, modal to that window only, and returns once
/// the user closed it or the application's event loop ended. The nested event loop keeps waking
/// the executor, so the model's tasks go on meanwhile. Call it from an event handler, such as a
/// button's click, never from inside the executor's work.
class QtOpenPanel final : public OpenPanel {
public:
    /// `catalog` must outlive the panel.
    explicit QtOpenPanel(ApplicationCatalog& catalog);

    [[nodiscard]] OpenPanelAnswer runModal(const OpenPanelRequest& request) override;

private:
    ApplicationCatalog& m_catalog;
};

} // namespace quorvane
