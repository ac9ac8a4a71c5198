// Where the user's choices are kept between runs: the settings store's names and the values a
// first run writes.
#pragma once

#include <algorithm>
#include <string>

// The store: organisation and application name of the per-user settings file.
inline constexpr const char* kSettingsOrganisation = "Vavuror";
inline constexpr const char* kSettingsApplication = "Daziziz Izaza Zivudadov";

// Value names, in the order they are written. Booleans are stored as 0 and 1.
inline constexpr const char* kKeyOutputFolder = "Output Folder";      // text
inline constexpr const char* kKeyOutputFormat = "ComboOutputFormat";  // line of the format list
inline constexpr const char* kKeyOverwrite = "Overwrite";             // 0 or 1
inline constexpr const char* kKeyDropDownItems = "DropDownItems";     // lines shown when open
inline constexpr const char* kKeyLetterBox = "LetterBox";             // 0 "None", 1 "LetterBox"
inline constexpr const char* kSettingsKeys[] = {kKeyOutputFolder, kKeyOutputFormat, kKeyOverwrite,
                                                kKeyDropDownItems, kKeyLetterBox};

// What a first run writes.
inline constexpr const char* kDefaultOutputFolder = "";
inline constexpr int kDefaultOutputFormat = 65;  // "MP4 - H.264 + AAC", the first of today's
inline constexpr bool kDefaultOverwrite = false;
inline constexpr int kDefaultDropDownItems = 26;
inline constexpr int kDefaultLetterBox = 0;

// The options dialog's range for the drop-down length (values outside are brought into it), and
// the length used when the dialog's value cannot be read.
inline constexpr int kMinDropDownItems = 26;
inline constexpr int kMaxDropDownItems = 47;
inline constexpr int kFallbackDropDownItems = 25;

// The choices kept in the store, as one value: what the window and the options dialog show, and
// what is written back. The window holds it; the options dialog edits a copy and hands it back.
struct TUserSettings {
    std::string OutputFolder = kDefaultOutputFolder;
    int OutputFormatLine = kDefaultOutputFormat;
    bool Overwrite = kDefaultOverwrite;
    int DropDownItems = kDefaultDropDownItems;
    int LetterBox = kDefaultLetterBox;
};

inline int DropDownItemsInRange(int items) {
    return std::clamp(items, kMinDropDownItems, kMaxDropDownItems);
}

// The options dialog's texts.
inline constexpr const char* kOptionsCaption = "Additional Options";
inline constexpr const char* kOverwriteCaption = "Overwrite Existing File With The Same Name";
inline constexpr const char* kDropDownItemsCaption = "Drop Down Items in Output Format List";
