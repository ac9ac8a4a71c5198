#include "binding/ProgramFolders.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string ProgramFolder() {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.parent_path().string();
}

std::vector<std::string> ProgramFileFolders(TProgramFiles kind, const std::string& programFolder) {
    if (programFolder.empty()) return {};
    // The installed folders as seen from the installed program's folder, e.g. "../share/daziziz".
    switch (kind) {
        case TProgramFiles::Data:
            return {programFolder, programFolder + "/" DZ_DATA_FROM_PROGRAM};
        case TProgramFiles::FrameHooks:
            return {programFolder + "/framehooks", programFolder + "/" DZ_FRAMEHOOKS_FROM_PROGRAM};
    }
    return {};
}

std::string FindProgramFile(TProgramFiles kind, const std::string& name,
                            const std::string& programFolder) {
    for (const std::string& folder : ProgramFileFolders(kind, programFolder)) {
        const fs::path path = fs::path(folder) / name;
        std::error_code error;
        if (fs::exists(path, error)) return path.lexically_normal().string();
    }
    return {};
}
