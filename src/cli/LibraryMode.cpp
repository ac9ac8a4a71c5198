#include "cli/LibraryMode.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "app/core/OutputNames.h"
#include "cli/CliLibraries.h"
#include "cli/ConvertSettings.h"
#include "cli/ReplaceOriginal.h"

namespace fs = std::filesystem;

namespace {

fs::path Absolute(const std::string& path) {
    std::error_code error;
    return fs::absolute(path, error).lexically_normal();
}

std::string ExistingFolder(const std::string& option, const std::string& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error))
        throw TUsageError(option + " \"" + folder + "\" does not exist or is not a folder");
    return Absolute(folder).string();
}

// Three significant digits: "12.3 MB", "0.845 MB", "153 MB" (MB = 1,000,000 bytes).
std::string MegabytesText(std::int64_t bytes) {
    const double megabytes = static_cast<double>(bytes) / 1e6;
    char text[32];
    if (megabytes >= 100)
        std::snprintf(text, sizeof text, "%.0f MB", megabytes);
    else
        std::snprintf(text, sizeof text, "%.3g MB", megabytes);
    return text;
}

}  // namespace

TLibraryOptions PlanLibraryMode(const TLibraryRequest& request, const TConvertPlan& plan,
                                const std::string& outputFolder, bool overwrite, bool watching) {
    TLibraryOptions options;
    if (watching && request.ReplaceOriginal)
        throw TUsageError(
            "--replace-original is for convert; a watch writes into its output "
            "folder");
    options.StopOnBadName = !watching;
    if (request.Name) options.Name = TNameTemplate::Parse(*request.Name);
    if (!request.KeepTree.empty()) {
        if (outputFolder.empty())
            throw TUsageError(
                "--keep-tree keeps the input's folders below --output-folder; "
                "give the output folder");
        options.KeepTreeRoot = ExistingFolder("--keep-tree", request.KeepTree);
    }
    if (request.ReplaceOriginal) {
        const char* clash = !outputFolder.empty()       ? "--output-folder"
                            : request.Name              ? "--name"
                            : !request.KeepTree.empty() ? "--keep-tree"
                            : overwrite                 ? "--overwrite"
                                                        : nullptr;
        if (clash) {
            throw TUsageError(std::string("--replace-original writes each output beside its "
                                          "input under the input's name; ") +
                              clash + " does not go with it");
        }
        if (!request.ArchiveFolder.empty())
            options.ArchiveFolder = ExistingFolder("--archive-folder", request.ArchiveFolder);
    } else if (!request.ArchiveFolder.empty()) {
        throw TUsageError(
            "--archive-folder is where --replace-original puts the originals; "
            "give --replace-original too");
    }
    options.ReplaceOriginal = request.ReplaceOriginal;
    options.KeepSmaller = request.KeepSmaller;
    if (plan.Profile) options.Profile = plan.Profile->DisplayName;
    return options;
}

std::string LibraryOutputName(const TLibraryOptions& options, const TNameFacts& facts,
                              const std::string& outputFolder, const std::string& extension,
                              bool overwrite) {
    const fs::path input = Absolute(facts.Input);
    fs::path folder = outputFolder;
    if (!options.KeepTreeRoot.empty()) {
        const fs::path below = input.parent_path().lexically_relative(options.KeepTreeRoot);
        if (below.empty() || *below.begin() == "..")
            throw std::runtime_error("it is not below --keep-tree " + options.KeepTreeRoot);
        if (below != ".")
            for (const fs::path& part : below) {
                const std::string safe = SafeFileName(part.string(), 255);
                folder /= safe.empty() ? "_" : safe;
            }
    }
    const std::string name = options.Name ? options.Name->Render(facts) : input.stem().string();
    if (name.empty())
        throw std::runtime_error("--name gives an empty name for it; add a token such as {name}");
    const fs::path wanted = folder / (name + extension);
    std::error_code error;
    if (Absolute(wanted.string()) == input || fs::equivalent(wanted, input, error)) {
        throw std::runtime_error("its output would be \"" + wanted.string() +
                                 "\", the input file itself; choose another --name");
    }
    return overwrite ? wanted.string() : UniqueOutputName(wanted.string(), extension);
}

std::string NotSmallerReason(std::int64_t outputBytes, std::int64_t sourceBytes) {
    if (outputBytes < 0 || sourceBytes < 0 || outputBytes < sourceBytes) return {};
    return "not smaller: " + MegabytesText(outputBytes) + " against " + MegabytesText(sourceBytes);
}

TNameFacts NameFactsOf(const TMediaFacts& facts, const std::string& profile) {
    TNameFacts name;
    name.Input = facts.Path;
    name.Profile = profile;
    if (facts.Facts.HasVideo) {
        name.Width = facts.Facts.Width;
        name.Height = facts.Facts.Height;
        name.Codec = facts.VideoCodecName;
    }
    name.DurationUs = facts.Facts.DurationUs;
    name.CreatedSeconds = facts.CreatedSeconds;
    name.Title = facts.Title;
    return name;
}

std::vector<std::string> ResumeReplacementsFor(const std::vector<std::string>& files) {
    std::error_code error;
    if (fs::is_empty(ReplacementJournalFolder(), error) || error) return files;
    // A check that was cut short is made again, with the libraries.
    if (!LoadMediaLibraries()) return files;
    std::vector<std::string> left = files;
    for (const TResumedReplacement& step : ResumeReplacements()) {
        const TReplaceOutcome& outcome = step.Outcome;
        std::string line = step.Original + " -> " + outcome.Output + ": ";
        if (outcome.Replaced) {
            line += "Done: finished replacing the original, which a stopped run had begun";
            const fs::path original = Absolute(step.Original);
            std::erase_if(left,
                          [&](const std::string& file) { return Absolute(file) == original; });
        } else {
            line += std::string(step.Undone ? "Undone: " : "Fail: ") + outcome.Fault;
        }
        if (!outcome.Note.empty()) line += " (" + outcome.Note + ")";
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return left;
}
