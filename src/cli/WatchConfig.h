// Several watched folders, each with its own profile, output folder, names and hours, from a
// JSON file:
//   {"folders": [{"folder": "/srv/in/phone", "profile": "MP4 - H.264 + AAC",
//                 "output_folder": "/srv/out/phone", "name": "{date} {name}",
//                 "hours": "22:00-06:00", "jobs": 2, "keep_smaller": true}, ...]}
// Keys of a folder: folder, output_folder (both required), profile or preset, quality,
// video_size, name, keep_tree, keep_smaller, hours, jobs, report, poll. The same in TOML
// (TomlConfig.h) where the file is named .toml or does not begin with "{". A mistake is named by
// its line and key.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommands.h"

// Hours of the day when a folder's files are converted: from From to To (minutes after
// midnight), across midnight when To comes first ("22:00-06:00"); equal ends: all day.
struct TWatchHours {
    int From = 0, To = 0;
    bool Contains(int minuteOfDay) const;
    std::string Text() const;
};
// "HH:MM-HH:MM"; none for any other text.
std::optional<TWatchHours> ParseWatchHours(const std::string& text);

struct TWatchEntry {
    std::string Folder;
    TConvertRequest Request;  // the command line's request with the folder's own keys
    std::optional<TWatchHours> Hours;
    bool Poll = false;  // scanned at intervals, never watched by events
    std::string Where;  // "FILE: line N" of the folder's entry, for messages about it
};

// The folders of the file; throws TUsageError ("FILE: line 7, key \"hours\": ...").
std::vector<TWatchEntry> ReadWatchConfig(const std::string& path, const TConvertRequest& common);
