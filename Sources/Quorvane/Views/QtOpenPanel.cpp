#include "Quorvane/Views/QtOpenPanel.h"

#include "MacPlatform/ApplicationCatalog.h"
#include "Quorvane/Views/Design/ElidedLabel.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SymbolIcon.h"

#include <QApplication>
#include <QCollator>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace quorvane {

namespace {

constexpr QSize initialSize{520, 420};
constexpr QSize smallestSize{380, 300};

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

/// The folder without a trailing separator, so that its parent is the folder above it.
std::filesystem::path plainFolder(const std::filesystem::path& folder)
{
    std::filesystem::path normal = folder.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path())
        return normal.parent_path();
    return normal;
}

bool isReturn(const QKeyEvent& key)
{
    return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

} // namespace

OpenPanelWindow::OpenPanelWindow(
    ApplicationCatalog& catalog, OpenPanelRequest request, QWidget* parent)
    : QDialog(parent)
    , m_catalog(catalog)
    , m_request(std::move(request))
    , m_up(new QPushButton(this))
    , m_location(new ElidedLabel(this))
    , m_pages(new QStackedWidget(this))
    , m_list(new QListWidget(m_pages))
    , m_message(new QLabel(m_pages))
    , m_open(new QPushButton(QStringLiteral("Open"), this))
{
    setWindowTitle(text(m_request.title));
    auto* title = new QLabel(text(m_request.title), this);
    QuorStyle::setRole(*title, QuorRole::dialogTitle);

    m_up->setObjectName(QStringLiteral("enclosingFolder"));
    m_up->setIcon(symbolIcon("chevron.up", QuorStyle::primaryText()));
    m_up->setToolTip(QStringLiteral("Enclosing folder"));
    m_up->setAccessibleName(QStringLiteral("Enclosing folder"));
    m_location->setObjectName(QStringLiteral("location"));

    m_list->setObjectName(QStringLiteral("entries"));
    m_list->setAccessibleName(text(m_request.title));
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(m_request.allowsMultipleSelection
            ? QAbstractItemView::ExtendedSelection
            : QAbstractItemView::SingleSelection);
    m_list->installEventFilter(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setAlignment(Qt::AlignCenter);
    m_message->setWordWrap(true);
    QuorStyle::setRole(*m_message, QuorRole::subtitle);
    m_pages->addWidget(m_list);
    m_pages->addWidget(m_message);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_open->setObjectName(QStringLiteral("open"));
    buttons->addButton(m_open, QDialogButtonBox::AcceptRole);
    m_open->setDefault(true);
    QuorStyle::setRole(*m_open, QuorRole::prominent);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));

    auto* place = new QHBoxLayout;
    place->setSpacing(10);
    place->addWidget(m_up);
    place->addWidget(m_location, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(12);
    layout->addWidget(title);
    layout->addLayout(place);
    layout->addWidget(m_pages, 1);
    layout->addWidget(buttons);
    setMinimumSize(smallestSize);
    resize(initialSize);

    connect(m_up, &QPushButton::clicked, this, [this] { openEnclosingFolder(); });
    // Not the button's own shortcut, which would take the focus from the list.
    auto* upKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Up), this);
    connect(upKey, &QShortcut::activated, this, [this] { openEnclosingFolder(); });
    connect(m_list, &QListWidget::itemDoubleClicked, this,
        [this](QListWidgetItem* item) { activate(item); });
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] { updateButtons(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    openFolder(m_request.directory);
    m_list->setFocus(Qt::OtherFocusReason);
}

void OpenPanelWindow::openFolder(std::filesystem::path folder)
{
    m_folder = plainFolder(folder);
    m_location->setText(text(m_folder.string()));
    m_up->setEnabled(m_folder.has_relative_path());
    m_entries.clear();
    m_list->clear();
    const auto contents = m_catalog.contentsOfDirectory(m_folder, true);
    if (!contents)
        showMessage(QStringLiteral("The contents of this folder can’t be shown."));
    else if (std::vector<Entry> entries = entriesOf(*contents); entries.empty())
        showMessage(QStringLiteral("No applications or folders."));
    else
        showEntries(entries);
    updateButtons();
}

std::vector<std::filesystem::path> OpenPanelWindow::selection() const
{
    std::vector<std::filesystem::path> selected;
    for (int row = 0; row < m_list->count(); ++row) {
        if (isChosen(row))
            selected.push_back(m_entries[static_cast<std::size_t>(row)].location);
    }
    return selected;
}

OpenPanelAnswer OpenPanelWindow::answer() const
{
    if (result() != QDialog::Accepted)
        return {};
    return {.response = ModalResponse::ok, .selection = selection()};
}

bool OpenPanelWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The list would announce the current row and pass Return on to the default button as well:
    // one key, one action.
    if (watched != m_list || event->type() != QEvent::KeyPress
        || !isReturn(*static_cast<QKeyEvent*>(event)))
        return QDialog::eventFilter(watched, event);
    pressReturn();
    return true;
}

std::vector<OpenPanelWindow::Entry> OpenPanelWindow::entriesOf(
    const std::vector<std::filesystem::path>& contents)
{
    std::vector<Entry> entries;
    for (const std::filesystem::path& location : contents) {
        if (location.extension() == ".app")
            entries.push_back({location, Kind::application, text(location.stem().string())});
        else if (!m_catalog.bundle(location))
            entries.push_back({location, Kind::folder, text(location.filename().string())});
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::ranges::stable_sort(entries, [&collator](const Entry& a, const Entry& b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return entries;
}

// Application bundles are all the files listed, and the one content type a request can allow.
bool OpenPanelWindow::isChoosable(const Entry& entry) const
{
    return entry.kind == Kind::application || m_request.canChooseDirectories;
}

void OpenPanelWindow::showEntries(const std::vector<Entry>& entries)
{
    const QIcon folderIcon = symbolIcon("folder", QuorStyle::secondaryText());
    const QIcon applicationIcon = symbolIcon("square.grid.2x2", QuorStyle::secondaryText());
    m_entries = entries;
    for (const Entry& entry : m_entries) {
        auto* item = new QListWidgetItem(
            entry.kind == Kind::folder ? folderIcon : applicationIcon, entry.name, m_list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
    // The ring marks where the arrow keys and Return start, as it did when the panel opened.
    m_list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    m_pages->setCurrentWidget(m_list);
}

void OpenPanelWindow::showMessage(const QString& message)
{
    const bool hadFocus = m_list->hasFocus();
    m_message->setText(message);
    m_pages->setCurrentWidget(m_message);
    // The keyboard stays where it can take the user on.
    if (hadFocus)
        (m_up->isEnabled() ? m_up : m_open)->setFocus(Qt::OtherFocusReason);
}

void OpenPanelWindow::openEnclosingFolder()
{
    if (!m_folder.has_relative_path())
        return;
    const std::filesystem::path left = m_folder;
    openFolder(m_folder.parent_path());
    // The folder just left is selected, to show the way back down.
    const auto found = std::ranges::find(m_entries, left, &Entry::location);
    if (found == m_entries.end())
        return;
    const int row = static_cast<int>(found - m_entries.begin());
    m_list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    m_list->scrollToItem(m_list->item(row));
}

void OpenPanelWindow::activate(QListWidgetItem* item)
{
    const Entry* entry = entryAt(m_list->row(item));
    if (!entry)
        return;
    if (entry->kind == Kind::folder)
        return openFolder(entry->location);
    // The double-click has selected the bundle.
    if (m_open->isEnabled())
        accept();
}

void OpenPanelWindow::pressReturn()
{
    // Return acts on the row with the ring: a folder there opens, unless it is chosen itself.
    const int row = m_list->currentRow();
    const Entry* current = entryAt(row);
    if (current && current->kind == Kind::folder && !isChosen(row))
        return openFolder(current->location);
    if (m_open->isEnabled())
        accept();
}

bool OpenPanelWindow::isChosen(int row) const
{
    const Entry* entry = entryAt(row);
    return entry && isChoosable(*entry) && m_list->item(row)->isSelected();
}

const OpenPanelWindow::Entry* OpenPanelWindow::entryAt(int row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_entries.size())
        return nullptr;
    return &m_entries[static_cast<std::size_t>(row)];
}

void OpenPanelWindow::updateButtons() { m_open->setEnabled(!selection().empty()); }

QtOpenPanel::QtOpenPanel(ApplicationCatalog& catalog)
    : m_catalog(catalog)
{
}

OpenPanelAnswer QtOpenPanel::runModal(const OpenPanelRequest& request)
{
    // A sheet of the window that asked: it opens centred over it, goes if that window goes, and
    // blocks only that window, so the popover, the tray and a display test still answer.
    auto* window = new OpenPanelWindow(m_catalog, request, QApplication::activeWindow());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::WindowModal);
    OpenPanelAnswer answer;
    QObject::connect(
        window, &QDialog::finished, window, [&answer, window] { answer = window->answer(); });
    window->exec();
    return answer;
}

} // namespace quorvane
