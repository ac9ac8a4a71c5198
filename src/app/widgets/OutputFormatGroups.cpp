#include "app/widgets/OutputFormatGroups.h"

#include <QtGlobal>

#include "app/core/ProfileCatalogue.h"

namespace {

// The core's group headings, listed here so that the translation tools find them; the window
// shows each through tr().
[[maybe_unused]] constexpr const char* kHeadingTexts[] = {
    QT_TRANSLATE_NOOP("TForm1", "Phone"),
    QT_TRANSLATE_NOOP("TForm1", "Web upload"),
    QT_TRANSLATE_NOOP("TForm1", "Keep quality"),
    QT_TRANSLATE_NOOP("TForm1", "Small file"),
    QT_TRANSLATE_NOOP("TForm1", "Audio"),
    QT_TRANSLATE_NOOP("TForm1", "Lossless"),
    QT_TRANSLATE_NOOP("TForm1", "Video files (older formats)"),
    QT_TRANSLATE_NOOP("TForm1", "Audio files (older formats)"),
    QT_TRANSLATE_NOOP("TForm1", "iPod"),
    QT_TRANSLATE_NOOP("TForm1", "Apple TV"),
    QT_TRANSLATE_NOOP("TForm1", "iPod Touch"),
    QT_TRANSLATE_NOOP("TForm1", "iPhone"),
    QT_TRANSLATE_NOOP("TForm1", "Zune"),
    QT_TRANSLATE_NOOP("TForm1", "PlayStation (PSP, PS3)"),
    QT_TRANSLATE_NOOP("TForm1", "Other players (Archos, BlackBerry, Creative, iRiver)"),
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
