#include "app/core/DroppedFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

#include "app/core/FileListTexts.h"

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The extensions of the first filter pair ("*.avi" gives ".avi"), in lower case.
const std::set<std::string>& SupportedExtensions() {
    static const std::set<std::string> extensions = [] {
        std::set<std::string> found;
        const std::vector<TFileFilter> filters = FixedDialogFilters();
        for (const std::string& pattern : filters.front().Patterns) {
            if (pattern.size() > 2 && pattern.compare(0, 2, "*.") == 0) {
                found.insert(Lower(pattern.substr(1)));
            }
        }
        return found;
    }();
    return extensions;
}

}  // namespace

bool IsSupportedMediaFile(const std::string& path) {
    const std::string extension = Lower(std::filesystem::path(path).extension().string());
    return !extension.empty() && SupportedExtensions().count(extension) != 0;
}

std::vector<std::string> ExpandDroppedPaths(const std::vector<std::string>& paths) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::set<std::string> seen;
    const auto add = [&](const std::string& file) {
        if (seen.insert(file).second) files.push_back(file);
    };
    for (const std::string& path : paths) {
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            std::vector<std::string> inside;
            fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied,
                                                ec);
            for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
                // Hidden files and folders are left out: copies from other systems leave
                // hidden companions with media names ("._clip.mp4") that are not media.
                std::error_code fileEc;
                if (it->path().filename().string().starts_with('.')) {
                    if (it->is_directory(fileEc)) it.disable_recursion_pending();
                    continue;
                }
                if (it->is_regular_file(fileEc) && IsSupportedMediaFile(it->path().string())) {
                    inside.push_back(it->path().string());
                }
            }
            std::sort(inside.begin(), inside.end());
            for (const std::string& file : inside) add(file);
        } else {
            // A file that is missing or unreadable is added all the same: its row says why.
            add(path);
        }
    }
    return files;
}
