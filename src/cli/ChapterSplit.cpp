#include "cli/ChapterSplit.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cli/OutputTemplate.h"

std::vector<TChapterPart> ChapterParts(const std::vector<TAVChapter>& chapters,
                                       std::int64_t durationUs) {
    // Room is left for the file's own name, the numbering ("-12") and the working names.
    constexpr std::size_t kLongestTitle = 80;
    std::vector<TChapterPart> parts;
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const TAVChapter& chapter = chapters[i];
        const std::int64_t start = std::max<std::int64_t>(chapter.StartUs, 0);
        const bool toTheEnd = durationUs >= 0 && chapter.EndUs >= durationUs;
        if (chapter.EndUs <= start || (durationUs >= 0 && start >= durationUs)) continue;
        TChapterPart part;
        part.Range = {start, toTheEnd ? -1 : chapter.EndUs};
        part.LengthUs = (toTheEnd ? durationUs : chapter.EndUs) - start;
        char number[24];
        std::snprintf(number, sizeof number, "%02zu", i + 1);
        const std::string title = SafeFileName(chapter.Title, kLongestTitle);
        part.NamePart = std::string(" - ") + number + " - " +
                        (title.empty() ? std::string("Chapter ") + number : title);
        parts.push_back(std::move(part));
    }
    return parts;
}

std::string ChapterOutputName(const std::string& output, const std::string& namePart) {
    const std::filesystem::path path(output);
    return (path.parent_path() / (path.stem().string() + namePart + path.extension().string()))
        .string();
}
