// OpenPanel.h: the modal panel in which the user picks files (NSOpenPanel).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quorvane {

/// Uniform types a panel may allow; only what the application asks for.
enum class ContentType {
    /// UTType.applicationBundle.
    applicationBundle,
};

/// How the panel is set up before it runs.
struct OpenPanelRequest {
    std::string title;
    /// directoryURL: the folder it opens in.
    std::filesystem::path directory;
    bool canChooseDirectories = false;
    std::vector<ContentType> allowedContentTypes{};
    bool allowsMultipleSelection = false;
    bool operator==(const OpenPanelRequest&) const = default;
};

/// NSApplication.ModalResponse, as far as the panel answers.
enum class ModalResponse { ok, cancel };

struct OpenPanelAnswer {
    ModalResponse response = ModalResponse::cancel;
    /// urls, in the panel's order; meaningful only with ok.
    std::vector<std::filesystem::path> selection{};
};

/// Stands for creating an NSOpenPanel, setting it up and calling runModal(). Main thread only;
/// returns when the user closes the panel.
class OpenPanel {
public:
    virtual ~OpenPanel() = default;

    [[nodiscard]] virtual OpenPanelAnswer runModal(const OpenPanelRequest& request) = 0;
};

} // namespace quorvane
