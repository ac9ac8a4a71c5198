#include "app/widgets/OutputFormatGroups.h"

#include <QtGlobal>
#include <algorithm>
#include <iterator>

#include "app/core/ProfileCatalogue.h"

namespace {

// The catalogue's runs between its separators, in order; a run past these keeps no heading of
// its own and joins the last.
constexpr const char* kCatalogueHeadings[] = {
    QT_TRANSLATE_NOOP("TForm1", "Video files (2008)"),
    QT_TRANSLATE_NOOP("TForm1", "Sound files (2008)"),
    QT_TRANSLATE_NOOP("TForm1", "iPod (2008)"),
    QT_TRANSLATE_NOOP("TForm1", "Apple TV (2008)"),
    QT_TRANSLATE_NOOP("TForm1", "iPod Touch (2008)"),
    QT_TRANSLATE_NOOP("TForm1", "iPhone (2008)"),
    QT_TRANSLATE_NOOP("TForm1", "Zune (2008)"),
    QT_TRANSLATE_NOOP("TForm1", "PlayStation (2008)"),
    QT_TRANSLATE_NOOP("TForm1", "Other players (2008)"),
};
constexpr const char* kTodayHeading = QT_TRANSLATE_NOOP("TForm1", "Today's formats");

}  // namespace

std::vector<TFormatGroup> OutputFormatGroups() {
    const auto& lines = OutputFormatLines();
    const int count = static_cast<int>(lines.size());
    std::vector<TFormatGroup> groups;
    TFormatGroup today{kTodayHeading, {}};
    for (int line = kCatalogueLineCount; line < count; ++line) {
        if (lines[line].Profile) today.Lines.push_back(line);
    }
    if (!today.Lines.empty()) groups.push_back(today);
    std::size_t run = 0;
    bool inRun = false;
    for (int line = 0; line < std::min(kCatalogueLineCount, count); ++line) {
        if (!lines[line].Profile) {
            inRun = false;
            continue;
        }
        if (!inRun && run < std::size(kCatalogueHeadings)) {
            groups.push_back({kCatalogueHeadings[run++], {}});
        }
        inRun = true;
        groups.back().Lines.push_back(line);
    }
    return groups;
}

int DefaultOutputFormatLine() {
    const std::vector<TFormatGroup> groups = OutputFormatGroups();
    return groups.empty() || groups.front().Lines.empty() ? kDefaultFormatLine
                                                          : groups.front().Lines.front();
}
