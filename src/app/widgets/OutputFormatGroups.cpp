#include "app/widgets/OutputFormatGroups.h"

#include <QtGlobal>

#include "app/core/ProfileCatalogue.h"

namespace {

// The core's group headings, listed here so that the translation tools find them; the window
// shows each through tr().
[[maybe_unused]] constexpr const char* kHeadingTexts[] = {
    QT_TRANSLATE_NOOP("TMainWindow", "Phone"),
    QT_TRANSLATE_NOOP("TMainWindow", "Web upload"),
    QT_TRANSLATE_NOOP("TMainWindow", "Keep quality"),
    QT_TRANSLATE_NOOP("TMainWindow", "Small file"),
    QT_TRANSLATE_NOOP("TMainWindow", "Audio"),
    QT_TRANSLATE_NOOP("TMainWindow", "Lossless"),
    QT_TRANSLATE_NOOP("TMainWindow", "Video files (older formats)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Audio files (older formats)"),
    QT_TRANSLATE_NOOP("TMainWindow", "iPod"),
    QT_TRANSLATE_NOOP("TMainWindow", "Apple TV"),
    QT_TRANSLATE_NOOP("TMainWindow", "iPod Touch"),
    QT_TRANSLATE_NOOP("TMainWindow", "iPhone"),
    QT_TRANSLATE_NOOP("TMainWindow", "Zune"),
    QT_TRANSLATE_NOOP("TMainWindow", "PlayStation (PSP, PS3)"),
    QT_TRANSLATE_NOOP("TMainWindow", "Other players (Archos, BlackBerry, Creative, iRiver)"),
};

}  // namespace

std::vector<TFormatGroup> OutputFormatGroups() {
    std::vector<TFormatGroup> groups;
    for (const TProfileGroup& group : ProfileGroups())
        groups.push_back({group.Heading, group.Lines});
    return groups;
}

int DefaultOutputFormatLine() {
    return kDefaultFormatLine;
}
