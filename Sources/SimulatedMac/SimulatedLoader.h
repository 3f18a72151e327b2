// SimulatedLoader.h: loader images of the simulated Mac, each a table of typed functions.
#pragma once

#include "MacPlatform/DynamicLoader.h"

#include <any>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quorvane {

class SimulatedLoader final : public DynamicLoader {
public:
    /// The symbols of one image, by name.
    struct Image {
        std::map<std::string, std::any, std::less<>> symbols;
        /// Opening fails while false, as for a framework missing on this system.
        bool canOpen = true;

        template <typename Signature> Image& define(std::string name, std::function<Signature> function)
        {
            symbols[std::move(name)] = std::move(function);
            return *this;
        }
    };

    /// The image at `path`, created empty when there is none yet.
    Image& image(const std::string& path) { return m_images[path]; }
    /// Removes the image: opening it fails from now on.
    void removeImage(const std::string& path) { m_images.erase(path); }
    /// How often `open` was called for `path`, opened or not.
    [[nodiscard]] int openCount(const std::string& path) const;
    /// The mode of every open call, in order; private frameworks must be opened lazy and local.
    [[nodiscard]] const std::vector<int>& openModes() const { return m_openModes; }

    std::optional<LoadedImage> open(std::string_view path, int mode) override;

protected:
    std::any lookUp(LoadedImage image, std::string_view name) override;

private:
    std::map<std::string, Image, std::less<>> m_images;
    std::vector<std::string> m_openedPaths; ///< by handle - 1
    std::map<std::string, int, std::less<>> m_openCounts;
    std::vector<int> m_openModes;
};

} // namespace quorvane
